// posix_spawn with the pipe drained while waiting, so that a chatty tool can
// never fill the pipe and stall, and a deadline, so that a hung one cannot
// freeze the caller.
#include "platform/posix/child_process.h"
#include "platform/posix/fd.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#if !defined(__APPLE__) && !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34)))
#error "child processes need POSIX_SPAWN_CLOEXEC_DEFAULT (macOS) or posix_spawn_file_actions_addclosefrom_np (glibc 2.34)"
#endif

#ifdef __APPLE__
#include <crt_externs.h>  // a loadable bundle reaches the environment through this
#define PELMORA_ENVIRON (*_NSGetEnviron())
#else
extern char** environ;
#define PELMORA_ENVIRON environ
#endif

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

// More than any of our tools prints; the rest is read and dropped.
constexpr size_t kMaxOutput = 1 << 20;

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  Fd readEnd{fds[0]}, writeEnd{fds[1]};
  // Other children of the host must not inherit either end.
  fcntl(readEnd.fd, F_SETFD, FD_CLOEXEC);
  fcntl(writeEnd.fd, F_SETFD, FD_CLOEXEC);

  // The tool gets the pipe and the null device, nothing else of the host:
  // an inherited descriptor would keep the host's files, sockets and pipes
  // open as long as the tool (or anything it leaves behind) runs.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#ifndef __APPLE__
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

  // The host may ignore or block signals (SIGPIPE, say); the tool starts clean.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);  // cannot be handled: some systems refuse them here
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef __APPLE__
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;  // only what the file actions name is inherited
#endif
  posix_spawnattr_setflags(&attributes, flags);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), PELMORA_ENVIRON);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return result;
  close(writeEnd.fd);
  writeEnd.fd = -1;

  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0));
  fcntl(readEnd.fd, F_SETFL, O_NONBLOCK);
  bool open = true;
  char buffer[4096];
  while (open && Clock::now() < deadline) {
    pollfd p{readEnd.fd, POLLIN, 0};
    const int ready = poll(&p, 1, millisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (;;) {
      const ssize_t n = read(readEnd.fd, buffer, sizeof buffer);
      if (n > 0) {
        if (result.output.size() < kMaxOutput)
          result.output.append(buffer, std::min(static_cast<size_t>(n), kMaxOutput - result.output.size()));
        continue;
      }
      if (n == 0) open = false;  // every writer has closed: the output is complete
      else if (errno == EINTR) continue;
      else if (errno != EAGAIN && errno != EWOULDBLOCK) open = false;
      break;
    }
  }

  // The output is complete; the process may still be finishing.
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      result.output.clear();
      result.timedOut = true;
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (open) {  // the deadline passed while a grandchild still held the pipe
    result.output.clear();
    result.timedOut = true;
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace platform::posix
