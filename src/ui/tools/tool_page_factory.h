#pragma once
// The pages of the tool tabs, for the main window.
#include "shell/main_window_logic.h"
#include "ui/tools/tool_page.h"

namespace tw::ui {

// The page of a tool tab (Statistics, NSLOOKUP, WHOIS, PING, TRACERT), or
// nullptr for another tab or when the services it needs are missing.
ToolPage* create_tool_page(shell::MainPage page, settings::Profile& profile, const ToolPageServices& services,
                           Language lang);

}  // namespace tw::ui
