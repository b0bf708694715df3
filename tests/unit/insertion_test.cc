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
#include <limits>
#include <thread>

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
  EXPECT_FALSE(tryAXWrite({windows.elements[0].get(), "keep me", {0, 0}, "bad \xC3", true}, "com.example.bytes", true));
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

TEST(TypingIntoTerminal, ACrawlingReaderMeetsTheBoundAndWhatItNeverReadIsTakenBack) {
  if (!platform::posix::canTypeIntoOtherTerminals()) GTEST_SKIP() << "this process may not type into a terminal";
  Pty pty(false);
  ASSERT_GE(pty.reader, 0);
  std::atomic<bool> done{false};
  std::string taken;
  std::thread reader([&] {
    while (!done) {
      char c;
      if (read(pty.reader, &c, 1) == 1) taken += c;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const bool typed = platform::posix::typeIntoTerminal(pty.path, std::string(5000, 'k'), {16, 0.3, 0.6});
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  done = true;
  reader.join();
  EXPECT_FALSE(typed);
  EXPECT_GE(took, 0.6);  // never stalled for 0.3 s: it was the bound on the whole text
  EXPECT_LT(took, 1.0);
  EXPECT_GT(taken.size(), 20u);
  EXPECT_EQ(pty.readAll(), "");
}

TEST(TypingIntoTerminal, ALineReaderGetsOnlyALineItCanHold) {
  if (!platform::posix::canTypeIntoOtherTerminals()) GTEST_SKIP() << "this process may not type into a terminal";
  Pty pty(true);
  ASSERT_GE(pty.reader, 0);
  const long maxCanon = fpathconf(pty.reader, _PC_MAX_CANON);
  ASSERT_GT(maxCanon, 1);
  const platform::TypingPace pace{256, 1, 2};
  EXPECT_FALSE(platform::posix::typeIntoTerminal(pty.path, std::string(static_cast<size_t>(maxCanon), 'a'), pace));
  EXPECT_TRUE(platform::posix::typeIntoTerminal(pty.path, std::string(static_cast<size_t>(maxCanon) - 1, 'b'), pace));
  char end = '\n';
  ASSERT_EQ(ioctl(pty.reader, TIOCSTI, &end), 0);
  EXPECT_EQ(pty.readAll(), std::string(static_cast<size_t>(maxCanon) - 1, 'b') + "\n");
}

}  // namespace
