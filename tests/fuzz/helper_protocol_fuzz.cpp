// Feeds arbitrary bytes to the decoder of the helper's messages, as a stream
// of frames: whatever it accepts must encode back to exactly the bytes it was
// decoded from (so nothing is silently dropped, defaulted or misread), and it
// must never read past its input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "helper/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // libFuzzer's buffer is exactly `size` bytes long: the sanitizer sees any
  // read beyond it.
  std::span<const std::uint8_t> in(data, size);
  while (!in.empty()) {
    auto decoded = tw::helper::decode_frame(in);
    if (!decoded) break;
    const std::vector<std::uint8_t> again = tw::helper::encode(decoded->frame);
    if (decoded->size == 0 || decoded->size > in.size() || again.size() != decoded->size ||
        !std::equal(again.begin(), again.end(), in.begin()))
      std::abort();
    in = in.subspan(decoded->size);
  }
  return 0;
}
