// The rest of a stream in one buffer, read in large blocks: a byte-at-a-time
// stream iterator takes a tenth of a second over a 30 MB .reg file.
#pragma once

#include <cstdint>
#include <istream>
#include <vector>

namespace corvane::base {

// Everything from the stream's position to its end. At the end the stream
// has eofbit and failbit set, as any read past the end leaves it; badbit
// alone tells that reading failed.
inline std::vector<std::uint8_t> ReadAll(std::istream& in) {
  std::vector<std::uint8_t> bytes;
  // A file says how much is left: the buffer is made that large at once,
  // not grown (and copied) block by block. A pipe can't say.
  if (const std::istream::pos_type at = in.tellg(); at != -1) {
    if (in.seekg(0, std::ios::end)) {
      const std::istream::pos_type end = in.tellg();
      if (end != -1 && end > at) {
        bytes.reserve(static_cast<std::size_t>(end - at));
      }
    }
    in.clear();
    in.seekg(at);
  }
  char block[1 << 16];
  do {
    in.read(block, sizeof block);
    bytes.insert(bytes.end(), block, block + in.gcount());
  } while (in);
  return bytes;
}

}  // namespace corvane::base
