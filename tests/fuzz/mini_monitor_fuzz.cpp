// Arbitrary bytes as the Mini Monitor's settings and figures: loading never
// crashes, the settings come out in range, the window always opens with a
// positive size on some screen, and the tray texts keep their bounds.
//
// Input layout: 64 bytes of figures (eight 64-bit values), the rest is the
// settings file.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fake/fake_file_store.h"
#include "settings/profile.h"
#include "traffic/mini_monitor_logic.h"

namespace {

constexpr const char* kPath = "/fuzz/tarnix_u@h.ini";
constexpr std::size_t kFigureBytes = 64;

void check(bool ok) {
  if (!ok) std::abort();
}

std::size_t chars(const std::string& s) {
  return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::traffic;
  std::array<std::uint64_t, 8> v{};
  std::memcpy(v.data(), data, std::min(size, kFigureBytes));
  const std::size_t skip = std::min(size, kFigureBytes);

  tw::platform::FakeFileStore files;
  files.files[kPath] = std::string(reinterpret_cast<const char*>(data + skip), size - skip);
  tw::settings::Profile profile(files, kPath);

  const MiniMonitorSettings s = load_mini_monitor_settings(profile);
  check(s.font_size >= 1 && s.font_size <= kMaxMiniFontSize);
  check(s.alpha_level >= 0 && s.alpha_level <= 255);
  check(s.ave_unit >= 0 && s.ave_unit <= 3);
  check(s.style >= 0 && s.style < kMiniFormatCount);

  TrafficFigures f;
  f.smoothed_send = static_cast<std::int64_t>(v[0]);
  f.smoothed_recv = static_cast<std::int64_t>(v[1]);
  f.max_send = static_cast<std::int64_t>(v[2]);
  f.max_recv = static_cast<std::int64_t>(v[3]);
  f.capture_send = v[4];
  f.gross_recv = v[5];
  f.capture_ms = v[6];
  for (const MiniLine& line : mini_monitor_lines(f, s.style, s.ave_unit))
    for (const MiniSegment& seg : line.segments) check(seg.color >= 0 && seg.color < kMiniColorCount);

  MessageAlert alert;
  alert.configure(s.message_level, s.ave_unit);
  alert.update(f.smoothed_send, f.smoothed_recv, static_cast<std::uint32_t>(v[7]));
  alert.update(f.max_send, f.max_recv, static_cast<std::uint32_t>(v[7] >> 32));

  check(tray_figure_text(static_cast<std::int64_t>(v[0])).size() <= 12);
  check(chars(tray_monitor_tip(s.style % 2 ? tw::Language::Japanese : tw::Language::English, v[6],
                               static_cast<std::int64_t>(v[0]), static_cast<std::int64_t>(v[1]),
                               static_cast<int>(v[7] & 1))) <= kTrayTipMaxChars);

  std::array<int, 10> list{};
  if (profile.read_placement(kMiniMonitorPosKey, list)) {
    const WindowRect primary{0, 0, 1920, 1080};
    const WindowRect second{static_cast<int>(v[7] & 0xFFFF) - 0x8000, 0, static_cast<int>(v[7] & 0xFFFF) - 0x8000 + 1280,
                            1024};
    const WindowRect screens[] = {primary, second};
    const WindowRect r = mini_monitor_open_rect(placement_rect(list), 150, 60, primary, screens);
    check(r.width() > 0 && r.height() > 0 && r.width() <= 1920 && r.height() <= 1080);
    const auto on = [&r](const WindowRect& sc) {
      return r.left < sc.right && sc.left < r.right && r.top < sc.bottom && sc.top < r.bottom;
    };
    check(on(primary) || on(second));
  }
  return 0;
}
