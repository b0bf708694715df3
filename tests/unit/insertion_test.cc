// Pure parts of the insertion routes: the UTF-16 splice, the ps listing
// rule, the trimming of tool output, the control-character screen, the
// child-process runner, and typing into a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "insertion/ax_write.h"
#include "insertion/tty.h"
#include "insertion/utf16_splice.h"
#include "platform/posix/child_process.h"
#include "platform/posix/terminal_input.h"
#include "platform/sim/world.h"

namespace {

using namespace pelmora;

TEST(Utf16Splice, ReplacesTheSelectionAndPlacesTheCaret) {
  auto s = spliceUtf16("hello world", 6, 5, "there");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->value, "hello there");
  EXPECT_EQ(s->caret, 11);
  s = spliceUtf16("", 0, 0, "first");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->value, "first");
  EXPECT_EQ(s->caret, 5);
}

TEST(Utf16Splice, CountsAstralCharactersAsTwoUnits) {
  const std::string grin = "\xF0\x9F\x98\x80";
  auto s = spliceUtf16(grin + "a", 2, 0, "\xC3\xA9");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->value, grin + "\xC3\xA9" "a");
  EXPECT_EQ(s->caret, 3);
  s = spliceUtf16("a" + grin, 1, 2, grin + grin);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->value, "a" + grin + grin);
  EXPECT_EQ(s->caret, 5);
}

TEST(Utf16Splice, RefusesWhatWouldCorruptOrOverflow) {
  const std::string grin = "\xF0\x9F\x98\x80";
  EXPECT_FALSE(spliceUtf16(grin, 1, 0, "x"));      // inside the pair
  EXPECT_FALSE(spliceUtf16(grin, 0, 1, "x"));      // ends inside the pair
  EXPECT_FALSE(spliceUtf16("abcde", 4, 3, "x"));   // past the end
  EXPECT_FALSE(spliceUtf16("abc", 4, 0, "x"));
  EXPECT_FALSE(spliceUtf16("abc", -1, 0, "x"));
  EXPECT_FALSE(spliceUtf16("abc", 0, -1, "x"));
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  EXPECT_FALSE(spliceUtf16("abc", 1, kMax, "x"));
  EXPECT_TRUE(spliceUtf16("abc", 3, 0, "x"));
}

// JavaScript hands over only UTF-8, but a splice gone wrong must not reach a
// field: a string that cannot be made would be written as the empty one.
TEST(VerifiedWrite, TextThatIsNotUtf8IsRefusedAndTeachesNothing) {
  sim::reset();
  auto app = std::make_unique<sim::App>();
  app->pid = 9;
  sim::Value field = sim::Value::object({{"id", "f"}, {"role", "AXTextField"}, {"value", "keep me"}, {"valueSettable", true}});
  sim::setWindows(*app, sim::Value::array({field}));
  sim::world().desktop.apps.push_back(std::move(app));
  platform::Element application = platform::applicationElement(9);
  platform::AttributeResult windows = platform::copyAttribute(application.get(), "AXWindows");
  ASSERT_EQ(windows.elements.size(), 1u);
  EXPECT_FALSE(tryAXWrite({windows.elements[0].get(), "keep me", {0, 0}, "bad \xC3", true}, "com.example.bytes"));
  EXPECT_EQ(sim::findNode(sim::Value("f"))->value.string, "keep me");
  EXPECT_EQ(gClipboardPreferredAppendBundles().count("com.example.bytes"), 0u);
  sim::reset();
}

// What a field may store of what it was given, and nothing more.
TEST(VerifiedWrite, NormalFormsOfTheWrittenTextCountAndNothingLooser) {
  struct Case {
    const char* shown;
    const char* written;
    bool singleLine;
    bool counts;
  };
  const Case cases[] = {
      {"caf\x65\xCC\x81", "caf\xC3\xA9", false, true},  // decomposed
      {"a\nb\nc", "a\r\nb\rc", false, true},              // one form of line break
      {"a\r\nb", "a\nb", false, true},
      {"line", "line\n", false, true},                       // the final break dropped
      {"line", "line\r\n", false, true},
      {"a\nb", "a\r\nb\r\n", false, true},
      {"a b", "a\nb", true, true},                           // one line: breaks as spaces
      {"a b c", "a\r\nb\rc\n", true, true},
      {"a b ", "a\nb\n", true, true},
      {"a b", "a\nb", false, false},                         // not in a field of several lines
      {"line", "line\n\n", false, false},                   // one final break, not two
      {"ab", "a\nb", true, false},                           // a break is not dropped inside
      {"a\xE2\x80\xA8" "b", "a\nb", false, false},          // U+2028 is no line break here
      {"a b", "a  b", true, false},
      {"dictated wor", "dictated words", false, false},         // cut short
      {"", "x", true, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(showsWrittenValue(c.shown, c.written, c.singleLine), c.counts) << c.shown << " for " << c.written;
}

TEST(ForegroundShell, FirstForegroundLineDecides) {
  EXPECT_TRUE(foregroundShellInListing("Ss /usr/bin/login\nS+ -zsh\n"));
  EXPECT_FALSE(foregroundShellInListing("S+ vim\nS+ zsh\n"));
  EXPECT_FALSE(foregroundShellInListing("Ss zsh\nS sleep\n"));
  EXPECT_FALSE(foregroundShellInListing(""));
}

TEST(ForegroundShell, PaddedColumnsPathsBlanksAndOddLines) {
  EXPECT_TRUE(foregroundShellInListing("Ss+  bash\n"));                   // as Linux pads it
  EXPECT_TRUE(foregroundShellInListing("\n   \n\tS+ \t/bin/fish\n"));  // blank lines, tab
  EXPECT_TRUE(foregroundShellInListing("S+ /usr/local/bin/-tcsh"));       // no final line feed
  EXPECT_FALSE(foregroundShellInListing("S+\nR+ python3\n"));             // a line without a space is skipped
  EXPECT_TRUE(foregroundShellInListing("S+\nR+ dash\n"));
  EXPECT_FALSE(foregroundShellInListing("S+ bash -c\n"));                 // a command, not a shell name
  EXPECT_FALSE(foregroundShellInListing("S+ zshell\n"));
  EXPECT_TRUE(foregroundShellInListing("\xE2\x80\x83S+ sh\xE2\x80\x83\n"));  // em spaces around
}

TEST(ToolOutput, WhiteSpaceAndLineBreaksOfUnicodeAreTrimmed) {
  for (std::string space : {"\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80",
                            "\xE2\x80\x85", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                            "\xE2\x81\x9F", "\xE3\x80\x80"})
    EXPECT_EQ(trimWhitespaceAndLineBreaks(space + "/dev/ttys003" + space + space + "\n"), "/dev/ttys003") << space;
  // Not white space: zero-width space, word joiner, a letter ending in 0x85.
  EXPECT_EQ(trimWhitespaceAndLineBreaks("\xE2\x80\x8B/dev/x\xE2\x81\xA0"), "\xE2\x80\x8B/dev/x\xE2\x81\xA0");
  EXPECT_EQ(trimWhitespaceAndLineBreaks(" \xC4\x85\n"), "\xC4\x85");
  EXPECT_EQ(trimWhitespaceAndLineBreaks("\xE2\x80\xA8 \n"), "");
}

TEST(ControlCharacters, C0DelAndC1AreDeclined) {
  EXPECT_FALSE(containsControlCharacters("ls -la ~/caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\xA0"));
  for (std::string bad : {std::string("a\nb"), std::string("a\tb"), std::string("a\rb"), std::string("a\0b", 3),
                          std::string("\x1B[A"), std::string("\x7F"), std::string("\xC2\x85"), std::string("\xC2\x9F")})
    EXPECT_TRUE(containsControlCharacters(bad)) << bad;
  EXPECT_FALSE(containsControlCharacters("\xC2\xA0\xC2\xBF"));  // U+00A0, U+00BF are text
}

TEST(ChildProcess, StatusOutputAndLaunchFailure) {
  auto ok = platform::posix::runChildProcess("/bin/sh", {"-c", "printf 'a b'; echo err >&2; exit 7"}, 5);
  EXPECT_EQ(ok.status, 7);
  EXPECT_EQ(ok.output, "a b");
  EXPECT_FALSE(ok.timedOut);
  auto missing = platform::posix::runChildProcess("/nonexistent/tool", {}, 5);
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.output, "");
  // Arguments are passed as they are, never through a shell.
  auto literal = platform::posix::runChildProcess("/bin/echo", {"$HOME", "; rm -rf /"}, 5);
  EXPECT_EQ(literal.output, "$HOME ; rm -rf /\n");
}

TEST(ChildProcess, ChattyToolsDrainAndHungOnesAreKilled) {
  auto chatty = platform::posix::runChildProcess("/bin/sh", {"-c", "head -c 5000000 /dev/zero"}, 10);
  EXPECT_EQ(chatty.status, 0);
  EXPECT_EQ(chatty.output.size(), 1u << 20);  // kept up to the cap, the rest drained

  const auto start = std::chrono::steady_clock::now();
  auto hung = platform::posix::runChildProcess("/bin/sleep", {"30"}, 0.3);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.status, -1);
  EXPECT_LT(took, 1.0);

  // A tool that closes its output but keeps running is bounded too.
  auto lingering = platform::posix::runChildProcess("/bin/sh", {"-c", "exec >&-; sleep 30"}, 0.3);
  EXPECT_TRUE(lingering.timedOut);
  // A grandchild keeping the pipe open after its parent exited.
  auto grandchild = platform::posix::runChildProcess("/bin/sh", {"-c", "sleep 30 & echo started"}, 0.3);
  EXPECT_TRUE(grandchild.timedOut);
}

TEST(ChildProcess, GetsNoDescriptorOfTheHost) {
  // Held open across exec (dup2 clears close-on-exec), as a host's stray
  // descriptor would be.
  const int opened = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int held = dup2(opened, 100);
  close(opened);
  ASSERT_EQ(held, 100);
  auto r = platform::posix::runChildProcess(
      "/bin/sh", {"-c", "for fd in 0 1 2 100; do [ -e /dev/fd/$fd ] && echo $fd; done; read x || echo eof"}, 5);
  close(held);
  EXPECT_EQ(r.output, "0\n1\n2\neof\n");  // standard input from the null device
}

TEST(RunProcess, OutputThatIsNotUtf8IsDropped) {
  auto r = runProcess("/usr/bin/printf", {"a\\377b"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");
}

// A pseudo-terminal whose reader the test plays.
struct Pty {
  int master = -1, reader = -1;
  std::string path;
  explicit Pty(bool lineMode) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    path = ptsname(master);
    reader = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios mode{};
    tcgetattr(reader, &mode);
    if (!lineMode) cfmakeraw(&mode);  // as a line editor sets it
    tcsetattr(reader, TCSANOW, &mode);
  }
  ~Pty() {
    close(reader);
    close(master);
  }
  std::string readAll() const {
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<size_t>(n));
    return got;
  }
};

TEST(TerminalErase, OneEraseACodePointWhereEachIsACharacterOfItsOwn) {
  const std::pair<const char*, std::optional<size_t>> cases[] = {
      {"ls -la", 6},
      {"caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xE2\x82\xAC" "5", 10},  // precomposed, wide, symbols
      {"\xF0\x9F\x98\x80", 1},                       // an emoji alone
      {"\xED\x95\x9C", 1},                            // a precomposed Hangul syllable
      {"cafe\xCC\x81", std::nullopt},                  // a combining mark
      {"\xCC\x81" "abc", std::nullopt},                // one that joins the line's last character
      {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", std::nullopt},  // a modifier
      {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", std::nullopt},  // a flag
      {"a\xE2\x80\x8B" "b", std::nullopt},            // a zero-width space
      {"\xC2\xAD", std::nullopt},                      // a soft hyphen
      {"bad \xC3", std::nullopt},
  };
  for (const auto& [text, count] : cases) EXPECT_EQ(terminalEraseCount(text), count) << text;
}

// The forecast over readers whose cost per byte is a + b * position^k (fitted
// to bash 5.2, zsh 5.9 and fish 3.6 here), asked every 64 bytes as the typing
// asks it; some readers pause, as a busy machine stops them.
TEST(TypingForecast, LineEditorsThatSlowDownAreSeenEarlyAndPausesDoNotDecide) {
  struct Pause {
    size_t at;
    double seconds;
  };
  struct Case {
    const char* what;
    size_t total;
    double perByte, growth;  // seconds a byte, and its growth
    int power;
    std::vector<Pause> pauses;
    size_t lateBy;           // 0: on track to the end
    std::pair<size_t, size_t> burst{};  // bytes taken at 5 us each, as a reader catches up
  };
  const Case cases[] = {
      {"bash, 4 us a byte", 20000, 4e-6, 0, 1, {}, 0},
      {"zsh, 26,000 bytes in 2.8 s", 26000, 5e-6, 8e-9, 1, {}, 0},
      {"fish over prose, 9 s for 11,000 bytes", 11000, 1e-5, 2e-11, 2, {}, 0},
      {"fish over prose, 20,000 bytes in about a minute", 20000, 1e-5, 2e-11, 2, {}, 5000},
      {"a steady reader that pauses once", 20000, 5e-5, 0, 1, {{1000, 0.5}}, 0},
      {"a steady reader too slow for the bound", 400000, 5e-5, 0, 1, {}, 8000},
      // fish on two busy cores: 20,000 quoted bytes within 4 s.
      {"a slow reader with a burst", 20000, 2.2e-4, 0, 1, {}, 0, {2000, 4700}},
  };
  for (const Case& c : cases) {
    platform::posix::TypingForecast forecast(c.total, 10.0);
    double t = 0;
    size_t lateAt = 0;
    for (size_t taken = 1; taken <= c.total && !lateAt; ++taken) {
      const bool bursting = taken >= c.burst.first && taken < c.burst.second;
      t += bursting ? 5e-6 : c.perByte + c.growth * std::pow(static_cast<double>(taken), c.power);
      for (const Pause& p : c.pauses)
        if (taken == p.at) t += p.seconds;
      if (taken % 64 == 0 && !forecast.onTrack(taken, t)) lateAt = taken;
    }
    if (c.lateBy == 0) EXPECT_EQ(lateAt, 0u) << c.what << " (" << t << " s)";
    else EXPECT_TRUE(lateAt > 0 && lateAt <= c.lateBy) << c.what << ": late at " << lateAt;
  }
  // What fish took of a 20,000-byte quoted line, and when, on two cores kept
  // busy by two other processes: pauses of 10 and 40 ms in its first tenth
  // of a second. It took the whole line in 0.8 s.
  // (bytes taken:seconds, as the typing asked every 64 bytes)
  std::istringstream fishOnABusyMachine(
      "212:0.0009 231:0.0009 254:0.0010 273:0.0011 490:0.0017 509:0.0018 529:0.0019 549:0.0020 "
      "759:0.0026 776:0.0027 961:0.0131 1000:0.0188 1172:0.0196 1376:0.0203 1632:0.0217 1819:0.0225 "
      "2075:0.0269 2331:0.0321 2448:0.0726 2468:0.0727 2688:0.0745 2741:0.0747 2758:0.0749 2865:0.0752");
  platform::posix::TypingForecast forecast(20000, 10.0);
  size_t taken;
  char colon;
  for (double t; fishOnABusyMachine >> taken >> colon >> t;) EXPECT_TRUE(forecast.onTrack(taken, t)) << taken << " bytes";
}

// A line editor played by a thread: it takes a byte every `perByte`
// seconds (after `stopAfter` bytes it stops reading), and its erase
// character takes back the line's last character.
struct LineEditor {
  const Pty& pty;
  double perByte;
  size_t stopAfter;
  std::atomic<bool> done{false};
  std::string line;
  size_t taken = 0;
  std::thread thread{[this] {
    while (!done) {
      char c;
      if (taken < stopAfter && read(pty.reader, &c, 1) == 1) {
        ++taken;
        if (c == '\x7f') {
          while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
          if (!line.empty()) line.pop_back();
        } else {
          line += c;
        }
      }
      std::this_thread::sleep_for(std::chrono::duration<double>(perByte));
    }
  }};
  LineEditor(const Pty& p, double seconds, size_t stop) : pty(p), perByte(seconds), stopAfter(stop) {}
  // Once it has read what it will of the queue.
  void finish() {
    for (int i = 0, queued = 1; i < 1000 && taken < stopAfter && queued > 0; ++i) {
      if (ioctl(pty.reader, FIONREAD, &queued) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
    thread.join();
  }
};

TEST(TypingIntoTerminal, ATextEndsTypedOrWithTheLineAsItWasOrSaysWhatItLeft) {
  if (!platform::posix::canTypeIntoOtherTerminals()) GTEST_SKIP() << "this process may not type into a terminal";
  using platform::TypingOutcome;
  const std::string kAccented = "e\xCC\x81";  // e and a combining acute: one character, two code points
  struct Case {
    const char* what;
    std::string text;
    double perByte;
    size_t stopAfter;
    TypingOutcome outcome;
    double atMost;  // seconds the call may take
    platform::TypingPace pace{64, 0.3, 0.6};
  };
  const Case cases[] = {
      // Its bounds leave room for a loaded machine, where a reader thread
      // may wait for a core.
      {"a reader that keeps pace", std::string(3000, 'k'), 0, SIZE_MAX, TypingOutcome::typed, 6, {64, 2, 6}},
      // 20,000 bytes at 0.1 ms each cannot fit in 0.6 s: seen long before.
      {"a reader too slow for the bound", std::string(20000, 'k'), 1e-4, SIZE_MAX, TypingOutcome::untouched, 0.3},
      {"too slow, in characters line editors may erase otherwise", [&] {
         std::string t;
         for (int i = 0; i < 4000; ++i) t += kAccented;
         return t;
       }(), 1e-4, SIZE_MAX, TypingOutcome::partial, 0.3},
      {"a reader that stops after taking some", std::string(2000, 'k'), 0, 300, TypingOutcome::partial, 0.6},
      {"a reader that never reads", std::string(2000, 'k'), 0, 0, TypingOutcome::untouched, 0.6},
  };
  for (const Case& c : cases) {
    Pty pty(false);
    ASSERT_GE(pty.reader, 0);
    LineEditor editor(pty, c.perByte, c.stopAfter);
    const auto start = std::chrono::steady_clock::now();
    const TypingOutcome outcome =
        platform::posix::typeIntoTerminal(pty.path, c.text, c.pace, pelmora::terminalEraseCount);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    editor.finish();
    EXPECT_EQ(outcome, c.outcome) << c.what;
    EXPECT_LT(took, c.atMost) << c.what;
    EXPECT_EQ(pty.readAll().size(), 0u) << c.what << ": nothing is left queued";
    if (c.outcome == TypingOutcome::typed) EXPECT_TRUE(editor.line == c.text) << c.what;
    if (c.outcome == TypingOutcome::untouched) EXPECT_EQ(editor.line.size(), 0u) << c.what << ": the line is as it was";
    if (c.outcome == TypingOutcome::partial) {
      EXPECT_FALSE(editor.line.empty()) << c.what;
      EXPECT_EQ(c.text.compare(0, editor.line.size(), editor.line), 0) << c.what << ": a part of the text, once";
    }
    if (c.perByte > 0 && c.outcome == TypingOutcome::untouched)
      EXPECT_GT(editor.taken, 2 * platform::posix::TypingForecast::kMinBytes) << c.what << ": it took and erased";
  }
}

TEST(TypingIntoTerminal, ALineReaderGetsOnlyALineItCanHold) {
  if (!platform::posix::canTypeIntoOtherTerminals()) GTEST_SKIP() << "this process may not type into a terminal";
  Pty pty(true);
  ASSERT_GE(pty.reader, 0);
  const long maxCanon = fpathconf(pty.reader, _PC_MAX_CANON);
  ASSERT_GT(maxCanon, 1);
  const platform::TypingPace pace{256, 1, 2};
  const auto type = [&](std::string text) {
    return platform::posix::typeIntoTerminal(pty.path, text, pace, pelmora::terminalEraseCount);
  };
  EXPECT_EQ(type(std::string(static_cast<size_t>(maxCanon), 'a')), platform::TypingOutcome::untouched);
  EXPECT_EQ(type(std::string(static_cast<size_t>(maxCanon) - 1, 'b')), platform::TypingOutcome::typed);
  char end = '\n';
  ASSERT_EQ(ioctl(pty.reader, TIOCSTI, &end), 0);
  EXPECT_EQ(pty.readAll(), std::string(static_cast<size_t>(maxCanon) - 1, 'b') + "\n");
}

}  // namespace
