#include "ui/tools/tool_page_factory.h"

#include "tools/tool_settings.h"
#include "ui/tools/command_tool_page.h"
#include "ui/tools/nslookup_page.h"
#include "ui/tools/statistics_page.h"
#include "ui/tools/whois_page.h"

namespace tw::ui {

ToolPage* create_tool_page(shell::MainPage page, settings::Profile& profile, const ToolPageServices& s,
                           Language lang) {
  using P = shell::MainPage;
  switch (page) {
    case P::Ping:
    case P::Tracert:
      if (!s.files || !s.processes) return nullptr;
      return new CommandToolPage(page == P::Ping ? tools::kPingTool : tools::kTracertTool, profile, *s.files,
                                 *s.processes, s.data_folder, lang);
    case P::Whois:
      if (!s.files || !s.whois) return nullptr;
      return new WhoisPage(profile, *s.files, *s.whois, s.data_folder, lang);
    case P::Nslookup:
      if (!s.files || !s.hosts) return nullptr;
      return new NslookupPage(profile, *s.files, s.dns, *s.hosts, s.data_folder, lang);
    case P::Statistics:
      if (!s.stats) return nullptr;
      return new StatisticsPage(profile, *s.stats, lang);
    default: return nullptr;
  }
}

}  // namespace tw::ui
