// Decoding captured datagrams as the capture thread does: every datagram of a
// recorded mix (TCP handshake, data and close, UDP, ICMP with IP options,
// fragments of a large echo; tests/fuzz/corpus/packet_decoder_fuzz/real-*),
// and the same for IPv6 (TCP, UDP, ICMPv6 echo and neighbour discovery,
// fragments with their extension header; real6-*),
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
#include <optional>
#include <string>
#include <vector>

#include "base/ip_address.h"
#include "packets/packet_decoder.h"

namespace {

using namespace tw;
using namespace tw::packets;

std::optional<Ipv6Bytes> ipv6_bytes(const std::string& text) {
  const auto a = net::parse_ip(text);
  if (!a || !a->is_v6()) return std::nullopt;
  return a->bytes;
}

// The recorded datagrams whose seed names start with `prefix` ("real-" for
// IPv4, "real6-" for IPv6).
std::vector<std::vector<std::uint8_t>> recorded_mix(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(fs::path(TW_SOURCE_DIR) / "tests/fuzz/corpus/packet_decoder_fuzz"))
    if (e.path().filename().string().starts_with(prefix)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

void decode_mix(benchmark::State& state, bool ipv6) {
  const auto mix = recorded_mix(ipv6 ? "real6-" : "real-");
  if (mix.empty()) {
    state.SkipWithError("no recorded datagrams");
    return;
  }
  const std::string local = ipv6 ? "fd00:232::1" : "10.232.0.1";
  const std::string peer = ipv6 ? "fd00:232::2" : "10.232.0.2";
  shared::FlowKeyTable keys;
  std::vector<shared::FlowKey> table;
  for (unsigned i = 0; i < 598; ++i) table.push_back({shared::udp_flow_key(ipv6 ? "fd00:1::1" : "10.1.0.1", 20000 + i), 100});
  table.push_back({shared::tcp_flow_key(local, 8080, peer, 40000), 7});
  table.push_back({shared::udp_flow_key(local, 5353), 8});
  keys.replace(std::move(table));
  const std::vector<std::uint32_t> locals = {*shared::parse_address("10.232.0.1")};
  const std::vector<Ipv6Bytes> locals6 = {*ipv6_bytes(local), *ipv6_bytes("fe80::1")};
  DecodeContext ctx;
  ctx.capture_address = locals[0];
  ctx.local_addresses = locals;
  ctx.ipv6 = ipv6;
  ctx.capture_address6 = locals6[0];
  ctx.local_addresses6 = locals6;
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

void BM_DecodeRecordedMix(benchmark::State& state) { decode_mix(state, false); }
void BM_DecodeRecordedMix6(benchmark::State& state) { decode_mix(state, true); }
BENCHMARK(BM_DecodeRecordedMix)->MinTime(2.0);
BENCHMARK(BM_DecodeRecordedMix6)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
