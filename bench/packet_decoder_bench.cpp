// Decoding captured datagrams as the capture thread does: every datagram of a
// recorded mix (TCP handshake, data and close, UDP, ICMP with IP options,
// fragments of a large echo; tests/fuzz/corpus/packet_decoder_fuzz/real-*),
// with the flow-key search on a table of 600 keys and the hand-over of each
// record under its lock. Prints datagrams per second on one core.
//
// Run: build/packet_decoder_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "packets/packet_decoder.h"

namespace {

using namespace tw;
using namespace tw::packets;

std::vector<std::vector<std::uint8_t>> recorded_mix() {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(fs::path(TW_SOURCE_DIR) / "tests/fuzz/corpus/packet_decoder_fuzz"))
    if (e.path().filename().string().starts_with("real-")) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

void BM_DecodeRecordedMix(benchmark::State& state) {
  const auto mix = recorded_mix();
  if (mix.empty()) {
    state.SkipWithError("no recorded datagrams");
    return;
  }
  shared::FlowKeyTable keys;
  std::vector<shared::FlowKey> table;
  for (unsigned i = 0; i < 598; ++i) table.push_back({shared::udp_flow_key("10.1.0.1", 20000 + i), 100});
  table.push_back({shared::tcp_flow_key("10.232.0.1", 8080, "10.232.0.2", 40000), 7});
  table.push_back({shared::udp_flow_key("10.232.0.1", 5353), 8});
  keys.replace(std::move(table));
  const std::vector<std::uint32_t> locals = {*shared::parse_address("10.232.0.1")};
  DecodeContext ctx;
  ctx.capture_address = locals[0];
  ctx.local_addresses = locals;
  ctx.flow_keys = &keys;

  std::mutex latest_mutex;
  PacketRecord latest = empty_record();
  PacketRecord scratch = empty_record();
  std::size_t i = 0;
  std::int64_t count = 0;
  for (auto _ : state) {
    const auto& d = mix[i];
    i = i + 1 == mix.size() ? 0 : i + 1;
    if (decode_datagram(d, ctx, scratch)) {
      std::lock_guard lock(latest_mutex);
      latest = scratch;
    }
    ++count;
  }
  benchmark::DoNotOptimize(latest);
  state.SetItemsProcessed(count);
  state.counters["datagrams"] = static_cast<double>(mix.size());
}
BENCHMARK(BM_DecodeRecordedMix)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
