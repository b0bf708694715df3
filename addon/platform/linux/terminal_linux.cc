// A Linux terminal's session, read from /proc: a terminal emulator holds the
// master side of a pseudo-terminal and starts a shell as its child, which
// leads a session whose controlling terminal is the slave side. No terminal
// says over AT-SPI which of several tabs is in front, so only a terminal with
// a single session is answered.
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/linux/identity_linux.h"
#include "platform/process.h"

namespace platform {
namespace {

struct ProcStat {
  int32_t pid = 0;
  std::string comm;
  int32_t ppid = 0, pgrp = 0, session = 0, ttyNr = 0, tpgid = 0;
};

// /proc/<pid>/stat, whose second field is the command name in parentheses
// (which may itself hold spaces and parentheses: the last ')' ends it).
std::optional<ProcStat> readStat(int32_t pid) {
  const std::string text = lx::readProcFile(pid, "stat");
  const size_t open = text.find('('), close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcStat s;
  s.pid = pid;
  s.comm = text.substr(open + 1, close - open - 1);
  char state = 0;
  if (std::sscanf(text.c_str() + close + 1, " %c %d %d %d %d %d", &state, &s.ppid, &s.pgrp, &s.session, &s.ttyNr,
                  &s.tpgid) != 6)
    return std::nullopt;
  return s;
}

// The device node of a process's controlling terminal: one of its standard
// descriptors names it (a shell keeps them on its terminal).
std::optional<std::string> ttyPathOf(const ProcStat& process) {
  for (int fd = 0; fd <= 2; ++fd) {
    const std::string link = "/proc/" + std::to_string(process.pid) + "/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    struct stat st {};
    if (stat(target, &st) == 0 && S_ISCHR(st.st_mode) && static_cast<int32_t>(st.st_rdev) == process.ttyNr)
      return std::string(target);
  }
  return std::nullopt;
}

}  // namespace

std::optional<TerminalSession> frontTerminalSession(int32_t terminalPid) {
  if (terminalPid <= 0) return std::nullopt;
  DIR* proc = opendir("/proc");
  if (!proc) return std::nullopt;
  std::optional<ProcStat> leader;
  std::set<int32_t> terminals;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (!end || *end || pid <= 0) continue;
    const auto s = readStat(static_cast<int32_t>(pid));
    // A child of the terminal that leads a session on a terminal of its own.
    if (!s || s->ppid != terminalPid || s->session != s->pid || s->ttyNr == 0) continue;
    terminals.insert(s->ttyNr);
    leader = s;
  }
  closedir(proc);
  if (terminals.size() != 1 || !leader) return std::nullopt;
  auto path = ttyPathOf(*leader);
  if (!path) return std::nullopt;
  // What the terminal's foreground process group runs: the shell itself at
  // its prompt, or whatever it started in front.
  const auto foreground = readStat(leader->tpgid);
  if (!foreground || foreground->pgrp != leader->tpgid || foreground->ttyNr != leader->ttyNr) return std::nullopt;
  return TerminalSession{std::move(*path), foreground->comm};
}

}  // namespace platform
