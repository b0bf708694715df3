// jsonEscape: the escaped text, placed between quotes, parses back to the
// scalars of the input (ill-formed bytes as U+FFFD), for any bytes.
#include <cstdlib>

#include "frame/json_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string escaped = pelmora::jsonEscape(input);
  auto parsed = fuzzref::parseJsonStringBody(escaped);
  if (!parsed) abort();  // not a valid JSON string body
  if (*parsed != fuzzref::decodeWithReplacement(input)) abort();
  return 0;
}
