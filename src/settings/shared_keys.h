#pragma once
// Keys of section "Settings" that windows of more than one layer follow: the
// shell owns and writes them, the Mini Monitor reads them too. Every other key
// is named only by the load and save functions of the group that owns it.
#include <string_view>

namespace tw::settings {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kWindowTopMostKey = "WindowTopMost";  // keep windows on top
inline constexpr std::string_view kWindowStretchKey = "WindowStretch";  // snap to the desktop edges

}  // namespace tw::settings
