// Feeds arbitrary bytes to the decoder of the helper's messages, as a stream
// of frames: whatever it accepts must encode back to exactly the bytes it was
// decoded from (so nothing is silently dropped, defaulted or misread), and it
// must never read past its input. A capture batch must also come out of the
// in-place batch writer as exactly those bytes, and the in-place reader must
// walk exactly the datagrams the decoder found.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <variant>
#include <vector>

#include "helper/protocol.h"

namespace {

void check_batch(const tw::helper::Frame& frame, std::span<const std::uint8_t> bytes) {
  const auto* batch = std::get_if<tw::helper::CaptureBatch>(&frame.message);
  if (batch == nullptr) return;
  tw::helper::CaptureBatchWriter writer;
  writer.clear(frame.request_id);
  for (const auto& d : batch->datagrams) {
    if (!writer.fits(d.size())) std::abort();
    writer.add(d);
  }
  const std::span<const std::uint8_t> built = writer.finish(*batch);
  if (!std::equal(built.begin(), built.end(), bytes.begin(), bytes.end())) std::abort();

  auto view = tw::helper::view_capture_batch(bytes.subspan(tw::helper::kHeaderSize));
  if (!view || view->count != batch->datagrams.size()) std::abort();
  std::size_t i = 0;
  view->for_each([&](std::span<const std::uint8_t> d) {
    const auto& want = batch->datagrams[i++];
    if (!std::equal(d.begin(), d.end(), want.begin(), want.end())) std::abort();
  });
}

}  // namespace

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
    check_batch(decoded->frame, in.first(decoded->size));
    in = in.subspan(decoded->size);
  }
  return 0;
}
