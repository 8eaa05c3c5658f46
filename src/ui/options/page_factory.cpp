#include "ui/options/page_factory.h"

#include "ui/common/qt_text.h"
#include "ui/options/general_pages.h"
#include "ui/options/output_color_page.h"
#include "ui/options/packet_pages.h"
#include "ui/options/session_pages.h"
#include "ui/options/tool_pages.h"
#include "ui/options/traffic_pages.h"

namespace tw::ui {

OptionsPage* create_options_page(shell::OptionsPageId id, settings::Profile& profile, const std::string& data_folder,
                                 Language lang, QWidget* parent) {
  using P = shell::OptionsPageId;
  switch (id) {
    case P::GeneralView: return new GeneralViewPage(profile, lang, parent);
    case P::Tasktray: return new TasktrayPage(profile, lang, parent);
    case P::NoticeDialog: return new NoticeDialogPage(profile, lang, parent);
    case P::MiniMonitor: return new MiniMonitorPage(profile, lang, parent);
    case P::Report: return new ReportPage(profile, lang, parent);
    case P::TrafficView1: return new TrafficView1Page(profile, lang, parent);
    case P::TrafficView2: return new TrafficView2Page(profile, lang, parent);
    case P::TrafficColor: return new TrafficColorPage(profile, lang, parent);
    case P::TrafficLogFile:
      return new LogFilePage(id, logging::LogKind::Traffic,
                             tr2(lang, "Traffic Monitor log output", "トラフィックモニターのログを出力する"), profile,
                             lang, parent);
    case P::OutputColor: return new OutputColorPage(profile, lang, parent);
    case P::AutoKillSession: return new AutoKillSessionPage(profile, data_folder, lang, parent);
    case P::MonitorColor: return new MonitorColorPage(profile, lang, parent);
    case P::SessionCopyItems:
      return new CopyItemsPage(id, std::string(sessions::kSessionSection), session_copy_columns(), profile, lang, parent);
    case P::SessionLogFile:
      return new LogFilePage(id, logging::LogKind::Session,
                             tr2(lang, "Session Monitor log output", "セッションモニターのログを出力する"), profile,
                             lang, parent);
    case P::NetstatView: return new NetstatViewPage(profile, lang, parent);
    case P::PacketView: return new PacketViewPage(profile, lang, parent);
    case P::PacketCopyItems:
      return new CopyItemsPage(id, std::string(packets::kPacketSection), packet_copy_columns(), profile, lang, parent);
    case P::PacketLogFile:
      return new LogFilePage(id, logging::LogKind::Packet,
                             tr2(lang, "Packet Monitor log output", "IP監視モニターのログを出力する"), profile, lang,
                             parent);
    case P::NsRecord: return new NsRecordPage(profile, lang, parent);
    case P::WhoisServer: return new WhoisServerPage(profile, data_folder, lang, parent);
    case P::Ping: return new CommandOptionsPage(tools::kPingTool, P::Ping, profile, lang, parent);
    case P::Tracert: return new CommandOptionsPage(tools::kTracertTool, P::Tracert, profile, lang, parent);
    default: return new OptionsPage(id, profile, lang, parent);
  }
}

}  // namespace tw::ui
