// corvane <file-path>: prints, as one JSON line, the applications that can
// open the file, the default first. Exit status 0 when the document was
// written, 1 on a usage error, 2 when the document could not be produced or
// written.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "lister/app_list.h"
#include "lister/json_document.h"
#include "lister/platform.h"

namespace {

// Every byte, or false with errno set.
bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void writeMessage(std::string_view prefix, std::string_view detail) {
  std::string line(prefix);
  line.append(detail).append("\n");
  writeAll(STDERR_FILENO, line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    writeAll(STDERR_FILENO, "Usage: corvane <file-path>\n");
    return 1;
  }
  corvane::platform::beginRun();

  std::vector<corvane::platform::App> named;
  std::string document;
  try {
    document = corvane::documentJson(corvane::listApps(argv[1], named));
    document += '\n';
  } catch (const std::exception& e) {
    writeMessage("Failed to encode JSON: ", e.what());
    return 2;
  }
  // A document that did not reach the reader is a failure, not a success:
  // a full disk or a closed pipe must not look like an empty answer.
  if (!writeAll(STDOUT_FILENO, document)) {
    writeMessage("Failed to write JSON: ", std::strerror(errno));
    return 2;
  }
#if !defined(CORVANE_FREE_AT_EXIT)
  // The document is out and nothing is buffered: the process ends here, and
  // what it holds (the platform's objects, the themes) goes with it rather
  // than being freed piece by piece. Sanitizer builds free it all, for the
  // leak check.
  _exit(0);
#endif
  return 0;
}
