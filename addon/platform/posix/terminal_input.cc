// Typing into a terminal as its keyboard would (TIOCSTI). The tty's input
// queue drops what overflows it (1024 bytes on macOS, 4095 on Linux) while
// the ioctl still succeeds, and a line editor redrawing a long line falls
// behind at once: so each byte waits until the queue has room, and only
// as long as the reader keeps taking bytes. A text typed in part is a line
// the host's paste would repeat: typing ends early only where what was typed
// can still be erased, or says that it could not be.
#include "platform/posix/terminal_input.h"
#include "platform/posix/fd.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>

#include <cstdio>
#endif

namespace platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

enum class Wait : uint8_t { ready, stalled, failed };

// Until the input queue holds fewer than `limit` bytes: stalled when the
// reader took nothing for the stall time.
Wait waitForQueueBelow(int fd, int limit, double stallSeconds) {
  Clock::time_point progress = Clock::now();
  int last = -1;
  for (;;) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0) return Wait::failed;
    if (queued < limit) return Wait::ready;
    if (last < 0 || queued < last) {
      last = queued;
      progress = Clock::now();
    } else if (secondsSince(progress) >= stallSeconds) {
      return Wait::stalled;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

// The reader stopped reading: what it has not read is taken back, what it
// read stays on its line. (It took nothing for a whole stall, so it does not
// read between the count and the flush.)
TypingOutcome abandon(int fd, size_t typed) {
  int queued = 0;
  const bool counted = ioctl(fd, FIONREAD, &queued) == 0;
  tcflush(fd, TCIFLUSH);
  return counted && static_cast<size_t>(queued) >= typed ? TypingOutcome::untouched : TypingOutcome::partial;
}

// Typing stopped between two characters while the reader still reads: it
// reads what is queued, then erases what it took, one erase character for
// each of them, at its own pace.
TypingOutcome takeBack(int fd, const termios& mode, std::string_view typed, const TypingPace& pace,
                       EraseCount eraseCount) {
  if (waitForQueueBelow(fd, 1, pace.stallSeconds) != Wait::ready) return abandon(fd, typed.size());
  const cc_t erase = mode.c_cc[VERASE];
  const std::optional<size_t> count = eraseCount ? eraseCount(typed) : std::nullopt;
  // The kernel's own line editing erases by bytes or by characters as IUTF8
  // says; only a line editor's is known to go by characters.
  if (!count || erase == _POSIX_VDISABLE || (mode.c_lflag & ICANON)) return TypingOutcome::partial;
  const Clock::time_point start = Clock::now();
  for (size_t i = 0; i < *count; ++i) {
    if (secondsSince(start) >= pace.totalSeconds || waitForQueueBelow(fd, pace.queueLimit, pace.stallSeconds) != Wait::ready ||
        ioctl(fd, TIOCSTI, &erase) != 0) {
      tcflush(fd, TCIFLUSH);
      return TypingOutcome::partial;
    }
  }
  if (waitForQueueBelow(fd, 1, pace.stallSeconds) == Wait::ready) return TypingOutcome::untouched;
  tcflush(fd, TCIFLUSH);
  return TypingOutcome::partial;
}

// How often the forecast is asked: every this many bytes typed.
constexpr size_t kForecastStep = 64;

}  // namespace

double TypingForecast::timeAt(double taken) const {
  auto after = std::lower_bound(samples_.begin(), samples_.end(), taken,
                                [](const auto& sample, double t) { return static_cast<double>(sample.first) < t; });
  if (after == samples_.end()) return samples_.back().second;
  if (after == samples_.begin()) return after->second;
  const auto before = after - 1;
  const double span = static_cast<double>(after->first - before->first);
  return before->second + (after->second - before->second) * (taken - static_cast<double>(before->first)) / span;
}

bool TypingForecast::onTrack(size_t taken, double elapsed) {
  if (taken > samples_.back().first) samples_.emplace_back(taken, elapsed);
  if (taken >= total_ || taken < kMinBytes || elapsed < kMinSeconds) return true;
  // The time a byte took over the second, third and last quarters, and the
  // power of the position by which it grew (their middles are 3/8, 5/8 and
  // 7/8 of the way): a steady reader's is 0, one that redraws the line per
  // byte 1, more when its per-byte work grows faster still. A reader that
  // takes its input in bursts, or that a busy machine stops, shows a growth
  // between the last two quarters that the two before do not: the power is
  // taken at most one above theirs. (A line editor's growth rises smoothly.)
  const double sofar = static_cast<double>(taken), quarter = sofar / 4;
  const double first = timeAt(quarter), half = timeAt(2 * quarter), threeQuarters = timeAt(3 * quarter);
  const double second = (half - first) / quarter;
  const double earlier = (threeQuarters - half) / quarter;
  const double recent = (elapsed - threeQuarters) / quarter;
  if (recent <= 0) return true;
  const auto growth = [](double from, double to, double positions) {
    return from > 0 && to > 0 ? std::clamp(std::log(to / from) / std::log(positions), 0.0, 3.0) : 0.0;
  };
  const double power = std::min(growth(earlier, recent, 7.0 / 5.0), growth(second, earlier, 5.0 / 3.0) + 1);
  // The rest at that pace: the integral of recent * (x / (7/8 taken))^power
  // from what was taken to the whole text.
  const double ratio = static_cast<double>(total_) / sofar;
  const double rest = recent * sofar * (std::pow(ratio, power + 1) - 1) / ((power + 1) * std::pow(7.0 / 8.0, power));
  if (elapsed + rest <= bound_) {
    lateSince_ = 0;
    return true;
  }
  if (lateSince_ == 0) lateSince_ = taken;
  return taken < lateSince_ + lateSince_ / 3;
}

TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount) {
  // Never as our controlling terminal, and never blocking.
  Fd tty{open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  termios mode{};
  if (tty.fd < 0 || isatty(tty.fd) != 1 || tcgetattr(tty.fd, &mode) != 0) return TypingOutcome::untouched;
  // A reader of whole lines keeps the unfinished one out of FIONREAD's
  // sight, and the line holds at most MAX_CANON bytes: only a text that fits
  // is sure to arrive whole.
  if (mode.c_lflag & ICANON) {
    const long maxCanon = fpathconf(tty.fd, _PC_MAX_CANON);
    if (maxCanon <= 0 || bytes.size() >= static_cast<size_t>(maxCanon)) return TypingOutcome::untouched;
  }
  const Clock::time_point start = Clock::now();
  TypingForecast forecast(bytes.size(), pace.totalSeconds);
  size_t nextForecast = kForecastStep;
  for (size_t typed = 0; typed < bytes.size(); ++typed) {
    // Stopped only between two characters, which a line editor can erase.
    const bool characterStarts = (static_cast<unsigned char>(bytes[typed]) & 0xC0) != 0x80;
    if (characterStarts && typed > 0) {
      bool stop = secondsSince(start) >= pace.totalSeconds;
      if (!stop && typed >= nextForecast) {
        nextForecast = typed + kForecastStep;
        int queued = 0;
        if (ioctl(tty.fd, FIONREAD, &queued) != 0) return abandon(tty.fd, typed);
        stop = !forecast.onTrack(typed - std::min(typed, static_cast<size_t>(queued)), secondsSince(start));
      }
      if (stop) return takeBack(tty.fd, mode, bytes.substr(0, typed), pace, eraseCount);
    }
    if (waitForQueueBelow(tty.fd, pace.queueLimit, pace.stallSeconds) != Wait::ready ||
        ioctl(tty.fd, TIOCSTI, &bytes[typed]) != 0)
      return abandon(tty.fd, typed);
  }
  return TypingOutcome::typed;
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
