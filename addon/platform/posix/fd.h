// A descriptor closed when it goes out of scope.
#pragma once

#include <unistd.h>

namespace platform::posix {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace platform::posix
