// Test tool: runs a program in a fresh pseudo-terminal and relays it.
//   pty_shell PROGRAM [ARGS...]
// Prints the terminal's path on the first line of standard output, then
// everything the terminal shows. Each line read on
// standard input is typed into the terminal as it is, with a carriage return
// for its line feed (as the Return key sends). Ends when the program does.
//
// Like a terminal application, it always reads what the program shows, even
// while nobody reads its own output (a test blocked in a synchronous call):
// a shell whose output stalls stops reading its input.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: pty_shell PROGRAM [ARGS...]\n");
    return 2;
  }
  int master = -1;
  char name[256] = {0};
  struct winsize size = {24, 80, 0, 0};
  pid_t pid = forkpty(&master, name, nullptr, &size);
  if (pid < 0) {
    perror("forkpty");
    return 1;
  }
  if (pid == 0) {
    // What a terminal application sets up for its shells.
    setenv("TERM", "xterm-256color", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("PS1", "$ ", 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  std::string shown = std::string(name) + "\n";
  fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
  char buffer[4096];
  bool inputOpen = true;
  for (;;) {
    struct pollfd fds[3] = {{master, POLLIN, 0},
                            {STDIN_FILENO, static_cast<short>(inputOpen ? POLLIN : 0), 0},
                            {STDOUT_FILENO, static_cast<short>(shown.empty() ? 0 : POLLOUT), 0}};
    if (poll(fds, 3, 200) < 0) continue;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      shown.append(buffer, static_cast<size_t>(n));
    }
    if (!shown.empty()) {
      ssize_t n = write(STDOUT_FILENO, shown.data(), shown.size());
      if (n > 0) shown.erase(0, static_cast<size_t>(n));
      else if (n < 0 && errno != EAGAIN) break;
    }
    if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
      ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        inputOpen = false;
        continue;
      }
      for (ssize_t i = 0; i < n; ++i)
        if (buffer[i] == '\n') buffer[i] = '\r';
      if (write(master, buffer, static_cast<size_t>(n)) < 0) break;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // What is still held goes out before the end.
  fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) & ~O_NONBLOCK);
  while (!shown.empty()) {
    ssize_t n = write(STDOUT_FILENO, shown.data(), shown.size());
    if (n <= 0) break;
    shown.erase(0, static_cast<size_t>(n));
  }
  return 0;
}
