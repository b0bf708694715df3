// Typing into a terminal as its keyboard would (TIOCSTI). The tty's input
// queue drops what overflows it (1024 bytes on macOS, 4095 on Linux) while
// the ioctl still succeeds, and a line editor redrawing a long line falls
// behind at once: so each byte waits until the queue has room, and only
// as long as the reader keeps taking bytes.
#include "platform/posix/terminal_input.h"
#include "platform/posix/fd.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>

#include <cstdio>
#endif

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

Clock::duration seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s > 0 ? s : 0));
}

// Until the input queue holds fewer than the limit: false when the reader
// took nothing for the stall time, or the deadline passed.
bool waitForRoom(int fd, const TypingPace& pace, Clock::time_point deadline) {
  const Clock::time_point stalled = std::min(deadline, Clock::now() + seconds(pace.stallSeconds));
  for (;;) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0) return false;
    if (queued < pace.queueLimit) return true;
    if (Clock::now() >= stalled) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

}  // namespace

bool typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace) {
  // Never as our controlling terminal, and never blocking.
  Fd tty{open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  termios mode{};
  if (tty.fd < 0 || isatty(tty.fd) != 1 || tcgetattr(tty.fd, &mode) != 0) return false;
  // A reader of whole lines keeps the unfinished one out of FIONREAD's
  // sight, and the line holds at most MAX_CANON bytes: only a text that fits
  // is sure to arrive whole.
  if (mode.c_lflag & ICANON) {
    const long maxCanon = fpathconf(tty.fd, _PC_MAX_CANON);
    if (maxCanon <= 0 || bytes.size() >= static_cast<size_t>(maxCanon)) return false;
  }
  const Clock::time_point deadline = Clock::now() + seconds(pace.totalSeconds);
  for (char byte : bytes) {
    if (!waitForRoom(tty.fd, pace, deadline) || ioctl(tty.fd, TIOCSTI, &byte) != 0) {
      // The host pastes next: what the reader never took must not arrive
      // after that paste as well.
      tcflush(tty.fd, TCIFLUSH);
      return false;
    }
  }
  return true;
}

#if defined(__APPLE__)
// bsd/kern/tty.c, TIOCSTI: suser(), the effective user id 0, or the
// caller's own controlling terminal.
bool canTypeIntoOtherTerminals() { return geteuid() == 0; }
#elif defined(__linux__)
namespace {

std::string readSmallFile(const char* path) {
  std::string text;
  Fd file{open(path, O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return text;
  char buffer[256];
  const ssize_t n = read(file.fd, buffer, sizeof buffer);
  if (n > 0) text.assign(buffer, static_cast<size_t>(n));
  return text;
}

}  // namespace

// drivers/tty/tty_io.c, tiocsti(): a terminal other than the caller's own
// needs capable(CAP_SYS_ADMIN).
bool canTypeIntoOtherTerminals() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, caps) != 0) return false;
  if (!(caps[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective & CAP_TO_MASK(CAP_SYS_ADMIN))) return false;
  // capable() asks the initial user namespace, which alone maps every id to
  // itself: a container's own root does not count.
  unsigned long inside = 1, outside = 1, count = 0;
  const std::string uidMap = readSmallFile("/proc/self/uid_map");
  if (std::sscanf(uidMap.c_str(), "%lu %lu %lu", &inside, &outside, &count) != 3 || inside != 0 || outside != 0 ||
      count != 4294967295UL)
    return false;
  // Absent before 6.2. At 0, kernels 6.2 to 6.4 refuse everyone and later
  // ones all but CAP_SYS_ADMIN; the release number cannot tell a backport,
  // so 0 declines.
  return readSmallFile("/proc/sys/dev/tty/legacy_tiocsti").rfind('0', 0) != 0;
}
#else
#error "canTypeIntoOtherTerminals: no rule for this kernel"
#endif

}  // namespace platform::posix
