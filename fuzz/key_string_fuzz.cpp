// Fuzz target: key-string parsing (key_string::ParseCodes), differential
// against formatted extraction from a std::istringstream in the "C" locale,
// which is what the parser promises to reproduce: read an int, then one
// separator character (after whitespace), until an int does not read.
//
// The input is the key string. It is handed over twice:
//   - as `length` bytes in a buffer of exactly that length, without a NUL, so
//     that any read past `length` is caught;
//   - as the bridge hands it over: the HostRequest name, NUL-terminated and cut
//     to 255 characters, with its strlen.
// Both must give exactly the codes the stream gives for the text before the
// first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/key_string.h"
#include "common/exact_buffer.h"
#include "common/fuzz_check.h"

namespace {

std::vector<int32_t> StreamCodes(const std::string& text) {
  std::istringstream stream(text);
  stream.imbue(std::locale::classic());
  std::vector<int32_t> codes;
  int code = 0;
  char separator = 0;
  while (stream >> code) {
    stream >> separator;  // may fail after the last code
    codes.push_back(static_cast<int32_t>(code));
  }
  return codes;
}

void CheckCodes(const std::vector<int32_t>& codes, const std::vector<int32_t>& expected, const std::string& text) {
  if (codes == expected) return;
  std::fprintf(stderr, "key string \"%s\": parser gave %zu codes, the stream %zu\n", text.c_str(), codes.size(),
               expected.size());
  for (size_t i = 0; i < codes.size() || i < expected.size(); ++i) {
    std::fprintf(stderr, "  [%zu] %s %s\n", i, i < codes.size() ? std::to_string(codes[i]).c_str() : "-",
                 i < expected.size() ? std::to_string(expected[i]).c_str() : "-");
  }
  FUZZ_CHECK(codes == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExactBuffer bytes(data, size);
  const char* text = reinterpret_cast<const char*>(bytes.data());
  const void* nul = std::memchr(text, 0, size);
  const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size;
  const std::string visible(text, length);

  CheckCodes(key_string::ParseCodes(text, size), StreamCodes(visible), visible);

  // The bridge's path: the name field of a HostRequest, at most 255 characters.
  const std::string name = visible.substr(0, 255);
  CheckCodes(key_string::ParseCodes(name.c_str(), std::strlen(name.c_str())), StreamCodes(name), name);

  FUZZ_CHECK(key_string::ParseCodes(nullptr, size).empty());
  return 0;
}
