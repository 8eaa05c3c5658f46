// The main window's part of the Session and Packet Monitor lists' commands
// that other tabs carry out: the lists ask, the window routes.
#include <QPointer>

#include "packetfilter/filter_controller.h"
#include "packetfilter/filter_rules.h"
#include "ui/main/main_window.h"
#include "ui/packets/packet_monitor_page.h"
#include "ui/sessions/session_monitor_page.h"
#include "ui/tools/tool_page.h"

namespace tw::ui {
namespace {

shell::MainPage tool_page_of(shell::ListCommand command) {
  switch (command) {
    case shell::ListCommand::Nslookup: return shell::MainPage::Nslookup;
    case shell::ListCommand::Whois: return shell::MainPage::Whois;
    case shell::ListCommand::Ping: return shell::MainPage::Ping;
    case shell::ListCommand::Tracert: return shell::MainPage::Tracert;
    case shell::ListCommand::AddFilterRules: break;
  }
  return shell::MainPage::PacketFilter;
}

}  // namespace

PacketMonitorPage* MainWindow::packet_page() const {
  return qobject_cast<PacketMonitorPage*>(page(shell::MainPage::PacketMonitor));
}

shell::ListCommandSet MainWindow::list_commands_available() const {
  shell::ListCommandSet on{};
  for (int i = 0; i < shell::kListCommandCount; ++i) {
    const auto command = static_cast<shell::ListCommand>(i);
    on[static_cast<std::size_t>(i)] = command == shell::ListCommand::AddFilterRules
                                          ? packet_filter_ != nullptr
                                          : qobject_cast<ToolPage*>(page(tool_page_of(command))) != nullptr;
  }
  return on;
}

void MainWindow::connect_list_commands() {
  const shell::ListCommandSet on = list_commands_available();
  if (SessionMonitorPage* p = session_page()) {
    p->set_list_commands(on);
    connect(p, &SessionMonitorPage::listCommandRequested, this, &MainWindow::run_list_command);
  }
  if (PacketMonitorPage* p = packet_page()) {
    p->set_list_commands(on);
    connect(p, &PacketMonitorPage::listCommandRequested, this, &MainWindow::run_list_command);
  }
}

void MainWindow::run_list_command(shell::ListCommand command, const std::vector<shell::ListRowCells>& rows) {
  if (rows.empty() || shut_down_) return;
  if (command == shell::ListCommand::AddFilterRules) {
    if (!packet_filter_) return;
    std::vector<packetfilter::GridRow> grid;
    grid.reserve(rows.size());
    for (const shell::ListRowCells& r : rows)
      grid.push_back(packetfilter::row_from_connection(
          r.port1, r.address2, r.port2, r.host2,
          r.protocol ? std::optional<std::string_view>(*r.protocol) : std::nullopt));
    packet_filter_->add_rows(grid);
    return;
  }
  const shell::MainPage target = tool_page_of(command);
  auto* tool = qobject_cast<ToolPage*>(page(target));
  if (!tool) return;
  select_tab(shell::tab_of_page(target));
  tool->run_for(QString::fromStdString(shell::tool_target(rows.front().host2, rows.front().address2)));
}

}  // namespace tw::ui
