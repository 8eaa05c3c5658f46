#include "base/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace tw {
namespace {

TEST(ByteAmountText, UnitBoundariesAndWidth) {
  EXPECT_EQ(byte_amount_text(1536), "   1.500 KB");
  EXPECT_EQ(byte_amount_text(-5), "   0.000 KB");
  EXPECT_EQ(byte_amount_text(1048575), "1023.999 KB");
  EXPECT_EQ(byte_amount_text(1048576), "   1.000 MB");
  EXPECT_EQ(byte_amount_text(std::int64_t{1} << 30), "   1.000 GB");
  EXPECT_EQ(byte_amount_text(std::int64_t{1} << 40), "   1.000 TB");
  EXPECT_EQ(byte_amount_text(std::int64_t{1} << 50), "   1.000 PB");
  EXPECT_EQ(byte_amount_text(std::numeric_limits<std::int64_t>::max()), "8192.000 PB");
}

TEST(GroupedInt, GroupsOfThreeFromTheRight) {
  EXPECT_EQ(grouped_int(999), "999");
  EXPECT_EQ(grouped_int(1000), "1,000");
  EXPECT_EQ(grouped_int(123456), "123,456");
  EXPECT_EQ(grouped_int(4294967), "4,294,967");
  EXPECT_EQ(grouped_int(std::numeric_limits<std::int32_t>::max()), "2,147,483,647");
  // Never passed by the program, but must not put a comma after the sign.
  EXPECT_EQ(grouped_int(-123456), "-123,456");
  EXPECT_EQ(grouped_int64(1234567890123), "1,234,567,890,123");
}

TEST(SpeedText, FixedUnitsTakenModuloFour) {
  EXPECT_EQ(speed_text(1.5, 0), "    1.50 KB/s");
  EXPECT_EQ(speed_text(1.5, 1), "    12.0 Kbps");
  EXPECT_EQ(speed_text(1024.0, 2), "   1.000 MB/s");
  EXPECT_EQ(speed_text(128.0, 3), "   1.000 Mbps");
  EXPECT_EQ(speed_text(1.5, 4), "    1.50 KB/s");
  EXPECT_EQ(speed_text(128.0, -1), "   1.000 Mbps");
  EXPECT_EQ(speed_text("Average Send speed     ", 1.5, 0), std::string("Average Send speed     ") + "    " + "    1.50 KB/s");
  EXPECT_EQ(speed_text("X", 128.0, 3), "X       1.000 Mbps");
}

TEST(AutoSpeed, StepsUpWithinTheFamily) {
  auto text = [](std::int64_t v, int u) { return auto_speed_text(auto_speed_parts(v, u)); };
  EXPECT_EQ(text(10240000, 0), "9.766 MB/s");  // 10,000 KB/s
  EXPECT_EQ(text(9999 * 1024, 0), "9999.000 KB/s");
  EXPECT_EQ(text(0, 0), "0.000 KB/s");
  EXPECT_EQ(text(-50, 3), "0.000 Mbps");
  EXPECT_EQ(text(std::int64_t{1} << 31, 1), "16.000 Gbps");    // Kbps -> Mbps -> Gbps
  EXPECT_EQ(text(std::int64_t{1} << 40, 2), "1024.000 GB/s");  // MB/s -> GB/s
  EXPECT_EQ(text(std::int64_t{1} << 50, 0), "1048576.000 GB/s");  // GB is the last step
  const SpeedParts p = auto_speed_parts(1536, 4);  // code taken modulo 4
  EXPECT_EQ(p.unit, kUnitKBps);
  EXPECT_EQ(p.integer, 1);
  EXPECT_EQ(p.fraction, 500);
}

TEST(OverlaySpeed, StepsAboveNineThousandNineHundredNinetyNinePointNine) {
  EXPECT_EQ(overlay_speed_text("Send Speed:", 0, 0), "Send Speed:   0.000 KB/s");
  EXPECT_EQ(overlay_speed_text("Send Speed:", 10240000, 0), "Send Speed:   9.766 MB/s");
  EXPECT_EQ(overlay_speed_text("Recv Speed:", 10239897, 0), "Recv Speed:9999.899 KB/s");
  EXPECT_EQ(overlay_speed_text("R:", std::int64_t{1} << 40, 1), "R:8192.000 Gbps");
  EXPECT_EQ(overlay_speeds_text("Send Speed:", 1024, "Recv Speed:", 2048, 0),
            "Send Speed:   1.000 KB/s  -  Recv Speed:   2.000 KB/s");
}

TEST(DurationText, DayAndDaylessForms) {
  EXPECT_EQ(duration_text(90061000, Language::English), " 1day  1h 01m 01s");
  EXPECT_EQ(duration_text(65000, Language::English), "      0h 01m 05s");
  EXPECT_EQ(duration_text(90061000, Language::Japanese), " 1日  1時間 01分 01秒");
  // Past the 32-bit millisecond range (49.7 days).
  EXPECT_EQ(duration_text(std::uint64_t{60} * 86400000, Language::English), "60day  0h 00m 00s");
  // The labelled forms: one blank after the label, and one more in the day-less form.
  EXPECT_EQ(duration_text("Time:", 65000, Language::English), "Time:       0h 01m 05s");
  EXPECT_EQ(duration_text("Time:", 90061000, Language::English), "Time:  1day  1h 01m 01s");
  EXPECT_EQ(idle_time_text("Inactivity:", 3661000), "Inactivity: 01:01:01");
  EXPECT_EQ(idle_time_text("Inactivity:", 90061000), "Inactivity: 01:01:01");  // hours modulo 24
}

}  // namespace
}  // namespace tw
