#include "ui/packets/packet_monitor_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "packets/packet_settings.h"
#include "shared/domain_colours.h"
#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"
#include "ui/controls/list_copy.h"
#include "ui/controls/list_font.h"
#include "ui/controls/report_list_view.h"
#include "ui/packets/packet_list_model.h"

namespace tw::ui {

PacketMonitorPage::PacketMonitorPage(app::PacketFeature& feature, settings::Profile& profile, Language lang,
                                     QWidget* parent)
    : QWidget(parent), feature_(feature), profile_(profile), lang_(lang) {
  tell = [this](const QString& text) { QMessageBox::warning(this, QStringLiteral("Tarnwatch"), text); };
  packets::PacketMonitor& monitor = feature_.monitor();

  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("IP"), this));
  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("address"));
  // An address, like the list's: in a face that tells "." from ",".
  address_->setFont(list_font(lang_, address_->font()));
  fit_address_field();
  bar->addWidget(address_);
  up_ = new QToolButton(this);
  up_->setObjectName(QStringLiteral("addressUp"));
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setObjectName(QStringLiteral("addressDown"));
  down_->setArrowType(Qt::DownArrow);
  bar->addWidget(up_);
  bar->addWidget(down_);
  start_ = new QPushButton(texts::start(lang_), this);
  start_->setObjectName(QStringLiteral("startStop"));
  bar->addWidget(start_);
  ask_dns_ = new QCheckBox(QStringLiteral("AskDNS"), this);
  ask_dns_->setObjectName(QStringLiteral("askDns"));
  ask_dns_->setChecked(monitor.settings().ask_dns);
  bar->addWidget(ask_dns_);
  bar->addStretch();
  // The run's datagrams and what the capture lost ("Captured: 12  Dropped: 0").
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("captureStatus"));
  bar->addWidget(status_);

  model_ = new PacketListModel(lang_, shared::load_list_colours(profile_), this);
  view_ = new ReportListView(this);
  view_->setObjectName(QStringLiteral("packetList"));
  view_->set_list_model(model_);
  view_->keep_column_widths(profile_, std::string(packets::kPacketSection));
  view_->setContextMenuPolicy(Qt::CustomContextMenu);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(bar);
  layout->addWidget(view_, 1);

  connect(start_, &QPushButton::clicked, this, [this] { toggle(); });
  connect(up_, &QToolButton::clicked, this, [this] { step(true); });
  connect(down_, &QToolButton::clicked, this, [this] { step(false); });
  connect(ask_dns_, &QCheckBox::toggled, this, [this](bool on) {
    feature_.monitor().set_ask_dns(on);
    profile_.write_int(packets::kPacketSection, "AskDNS", on ? 1 : 0);
  });
  connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = build_context_menu();
    menu->exec(view_->viewport()->mapToGlobal(at));
    menu->deleteLater();
  });
  feature_.set_tick_listener([this](const packets::TickResult& r) {
    sync(r.row_added);
    if (r.capture_ended) show_state();
  });
  reload_settings();

  // Page creation: the address list, the default address and, with
  // "Surveil"/"AutoStart" 1, the capture.
  const packets::StartOutcome started = feature_.auto_start();
  fit_address_field();
  address_->setText(qs(monitor.default_address_text()));
  if (!started.message.empty()) tell(qs(started.message));
  show_state();
  sync(false);
}

PacketMonitorPage::~PacketMonitorPage() { feature_.set_tick_listener({}); }

void PacketMonitorPage::fit_address_field() {
  // A dotted quad's room unless the list offers IPv6 addresses ("Settings"/
  // "IPv6" 1 and the machine has one): then the longest IPv6 text's.
  const bool ipv6 = !feature_.monitor().local_ipv6_addresses().empty();
  address_->setMaxLength(ipv6 ? 45 : 15);
  const QString widest = ipv6 ? QStringLiteral("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff") : QStringLiteral("255.255.255.255");
  address_->setFixedWidth(address_->fontMetrics().horizontalAdvance(widest) + 16);
}

void PacketMonitorPage::reload_settings() {
  fit_address_field();
  const shared::ListColours colours = shared::load_list_colours(profile_);
  model_->set_colours(colours);
  // The default background and text are used even when the file does not
  // name them, as in the Session Monitor: the default cell colours (pale
  // yellow addresses, light green "TCP(DL)") are made for the black
  // background and cannot be read on a desktop theme's white one.
  view_->set_base_colors(colours.get(shared::ColourKey::TextBk), colours.get(shared::ColourKey::Text));
  copy_items_ = shell::read_copy_items(profile_, packets::kPacketSection);
  view_->set_copy_items(copy_items_);
  const packets::PacketSettings s = packets::load_packet_settings(profile_);
  feature_.monitor().apply_settings(s);
  ask_dns_->setChecked(s.ask_dns);
}

void PacketMonitorPage::toggle() {
  const packets::StartOutcome out = feature_.toggle(address_->text().toStdString());
  if (!out.message.empty()) tell(qs(out.message));
  show_state();
}

void PacketMonitorPage::step(bool up) {
  address_->setText(qs(feature_.monitor().step_address(address_->text().toStdString(), up)));
}

void PacketMonitorPage::show_state() {
  // The button acts as STOP only while the capture runs; a run being
  // cleaned up shows START again.
  const packets::CaptureState st = feature_.monitor().state();
  const bool capturing = st == packets::CaptureState::Running || st == packets::CaptureState::Starting;
  start_->setText(capturing ? texts::stop(lang_) : texts::start(lang_));
  address_->setReadOnly(capturing);
  show_status();
}

void PacketMonitorPage::sync(bool added) {
  model_->sync(feature_.monitor().list(), added);
  show_status();
}

void PacketMonitorPage::show_status() {
  const QString text = qs(feature_.monitor().status_text());
  if (text != status_->text()) status_->setText(text);
}

QMenu* PacketMonitorPage::build_context_menu() {
  sync(false);  // the packet log may have emptied the list
  auto* menu = new QMenu(this);
  const bool any = model_->rowCount() > 0;
  const bool selected = any && !selected_rows(*view_).empty();
  // The Session Monitor's menu says the same things in the same words.
  QAction* remove = menu->addAction(tr2(lang_, "Remove all items", "全ての項目を削除"), this, [this] {
    feature_.monitor().remove_all();
    sync(false);
  });
  remove->setEnabled(any);
  QAction* copy = menu->addAction(tr2(lang_, "Clipboard Copy", "クリップボードへコピー"), this,
                                  [this] { view_->copy_selection(); });
  copy->setEnabled(selected);
  QAction* copy_data = menu->addAction(tr2(lang_, "Copy Packet-Data", "パケットデータをコピー"), this,
                                  [this] { copy_packet_data(); });
  copy_data->setEnabled(selected);
  menu->addSeparator();
  using shell::ListCommand;
  struct Item {
    std::string_view en, ja;
    ListCommand command;
  };
  for (const Item& item : {Item{"Add to Packet filter rules", "パケットフィルターのルールに追加", ListCommand::AddFilterRules},
                           Item{"WHOIS", "WHOIS", ListCommand::Whois}, Item{"NSLOOKUP", "NSLOOKUP", ListCommand::Nslookup},
                           Item{"PING", "PING", ListCommand::Ping}, Item{"TRACERT", "TRACERT", ListCommand::Tracert}}) {
    QAction* a = menu->addAction(tr2(lang_, item.en, item.ja), this,
                                 [this, c = item.command] { request_list_command(c); });
    a->setEnabled(selected && list_commands_[static_cast<std::size_t>(item.command)]);
  }
  return menu;
}

void PacketMonitorPage::request_list_command(shell::ListCommand command) {
  if (!list_commands_[static_cast<std::size_t>(command)]) return;
  // The cells as the list shows them: the rows the user selected, even when
  // the packet log has emptied the monitor's list since.
  std::vector<shell::ListRowCells> rows;
  const int count = model_->rowCount();
  for (const int r : selected_rows(*view_)) {
    if (r >= count) continue;
    rows.push_back({model_->text(r, packets::kPort1).toStdString(), model_->text(r, packets::kAddress2).toStdString(),
                    model_->text(r, packets::kHost2).toStdString(), model_->text(r, packets::kPort2).toStdString(),
                    model_->text(r, packets::kProtocol).toStdString()});
  }
  if (!rows.empty()) emit listCommandRequested(command, rows);
}

void PacketMonitorPage::copy_packet_data() {
  std::vector<std::size_t> rows;
  for (const int r : selected_rows(*view_)) rows.push_back(static_cast<std::size_t>(r));
  if (rows.empty()) return;
  QApplication::clipboard()->setText(QString::fromStdString(feature_.monitor().list().packet_data_text(rows)));
}

}  // namespace tw::ui
