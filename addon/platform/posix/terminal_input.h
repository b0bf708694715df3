#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace platform::posix {

TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount);

// What the kernel's TIOCSTI checks for a tty that is not the caller's
// controlling terminal: the effective user id on macOS; CAP_SYS_ADMIN in the
// initial user namespace, and the dev.tty.legacy_tiocsti sysctl, on Linux.
bool canTypeIntoOtherTerminals();

// Whether a reader will have taken a text within the bound, judged from the
// pace at which it took the text so far. Line editors redraw the whole line
// as it grows, so their pace falls with its length: bash's stays near 4 us a
// byte, zsh's grows with the line, fish's on unquoted words faster still
// (7.6 ms a byte at 20,000, 400 times its first). So the forecast
// takes the cost per byte over the last quarter of what was taken, and the
// power of the position by which it grew since the quarter before, and
// carries both on to the end.
class TypingForecast {
 public:
  TypingForecast(size_t total, double boundSeconds) : total_(total), bound_(boundSeconds) {}

  // The reader has taken `taken` bytes `elapsed` seconds after the start.
  // False once the rest cannot be taken within the bound: forecast late
  // twice, a quarter of the text taken apart, so that one pause of a busy
  // machine inside one quarter does not decide alone.
  bool onTrack(size_t taken, double elapsed);

  // Below either, the reader has taken too little to tell its pace from the
  // noise of a busy machine.
  static constexpr size_t kMinBytes = 256;
  static constexpr double kMinSeconds = 0.02;

 private:
  double timeAt(double taken) const;

  size_t total_;
  double bound_;
  std::vector<std::pair<size_t, double>> samples_{{0, 0.0}};  // (taken, seconds), taken rising
  size_t lateSince_ = 0;  // what was taken at the first late forecast; 0: none
};

}  // namespace platform::posix
