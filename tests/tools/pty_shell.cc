// Test tool: runs a program in a fresh pseudo-terminal and relays it.
//   pty_shell PROGRAM [ARGS...]
// Prints the terminal's path on the first line of standard output, then
// everything the terminal shows. Each line read on standard input is typed
// into the terminal as it is, with a carriage return for its line feed (as
// the Return key sends). Ends when the program does.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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
    setenv("TERM", "dumb", 1);
    setenv("PS1", "$ ", 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  printf("%s\n", name);
  fflush(stdout);
  char buffer[4096];
  bool inputOpen = true;
  for (;;) {
    struct pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, inputOpen ? 2 : 1, 200) < 0) continue;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      fwrite(buffer, 1, static_cast<size_t>(n), stdout);
      fflush(stdout);
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
  return 0;
}
