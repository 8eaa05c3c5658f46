#include "ui/sessions/session_monitor_page.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <vector>

#include "sessions/session_monitor.h"
#include "sessions/session_settings.h"
#include "settings/profile.h"
#include "shared/domain_colours.h"
#include "ui/common/output_box.h"
#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"
#include "ui/controls/list_copy.h"
#include "ui/controls/report_list_view.h"
#include "ui/models/session_list_model.h"

namespace tw::ui {
namespace {

std::vector<std::size_t> selected_indices(const ReportListView& view) {
  std::vector<std::size_t> out;
  for (int r : selected_rows(view)) out.push_back(static_cast<std::size_t>(r));
  return out;
}

}  // namespace

SessionMonitorPage::SessionMonitorPage(sessions::SessionMonitor& monitor, settings::Profile& profile, Language lang,
                                       int split_size, QWidget* parent)
    : QWidget(parent), monitor_(monitor), profile_(profile), lang_(lang), split_size_(split_size) {
  log_format_ = sessions::load_autoblock_settings(profile_).log_format;
  const sessions::SessionSettings& s = monitor_.settings();

  start_ = new QPushButton(texts::start(lang_), this);
  start_->setObjectName(QStringLiteral("startStop"));
  start_->setAutoDefault(false);
  ask_dns_ = new QCheckBox(QStringLiteral("AskDNS"), this);
  ask_dns_->setObjectName(QStringLiteral("askDns"));
  ask_dns_->setChecked(s.ask_dns);
  auto_block_ = new QCheckBox(tr2(lang, "Auto Kill Session", "自動切断"), this);
  auto_block_->setObjectName(QStringLiteral("autoBlock"));
  auto_block_->setChecked(s.auto_block);
  blocked_ = new QLabel(this);
  blocked_->setObjectName(QStringLiteral("blockedLabel"));
  log_view_ = new QCheckBox(QStringLiteral("LOG View"), this);
  log_view_->setObjectName(QStringLiteral("logView"));
  log_view_->setChecked(s.auto_block_log_view);
  log_ = new QPushButton(QStringLiteral("LOG"), this);
  log_->setObjectName(QStringLiteral("openLog"));
  log_->setAutoDefault(false);
  connections_ = new QLabel(this);
  connections_->setObjectName(QStringLiteral("connectionsLabel"));
  // The row must fit the window's narrowest width with the Japanese texts:
  // the buttons are only as wide as their words.
  for (QPushButton* b : {start_, log_})
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("START")) + 24);

  auto* bar = new QHBoxLayout;
  bar->setSpacing(8);
  bar->addWidget(start_);
  bar->addWidget(ask_dns_);
  bar->addSpacing(8);
  bar->addWidget(auto_block_);
  bar->addWidget(blocked_);
  bar->addWidget(log_view_);
  bar->addWidget(log_);
  bar->addStretch();
  bar->addWidget(connections_);

  model_ = new SessionListModel(lang, this);
  list_ = new ReportListView(this);
  list_->setObjectName(QStringLiteral("sessionList"));
  list_->set_list_model(model_, true);  // sorted by header clicks
  list_->keep_column_widths(profile_, std::string(sessions::kSessionSection));
  list_->setContextMenuPolicy(Qt::CustomContextMenu);

  pane_ = new QPlainTextEdit(this);
  pane_->setObjectName(QStringLiteral("blockedPane"));
  pane_->setReadOnly(true);
  pane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  pane_->setUndoRedoEnabled(false);

  splitter_ = new QSplitter(Qt::Vertical, this);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(list_);
  splitter_->addWidget(pane_);
  // The list takes what the window gains; the pane keeps its height.
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  pane_->setVisible(s.auto_block_log_view);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addLayout(bar);
  layout->addWidget(splitter_, 1);

  connect(start_, &QPushButton::clicked, this, &SessionMonitorPage::toggle_running);
  // Takes effect at the next refresh; the rows shown keep their texts.
  connect(ask_dns_, &QCheckBox::toggled, this, [this](bool on) { monitor_.set_ask_dns(on); });
  connect(auto_block_, &QCheckBox::toggled, this, [this](bool on) {
    if (on == monitor_.auto_block()) return;  // show_monitor() following a command
    monitor_.set_auto_block(on);
    show_monitor();
  });
  connect(log_view_, &QCheckBox::toggled, this, [this](bool on) {
    pane_->setVisible(on);
    if (on) apply_split_size();
  });
  connect(log_, &QPushButton::clicked, this, &SessionMonitorPage::open_log);
  connect(list_, &ReportListView::header_clicked, this, [this](int column) {
    monitor_.header_click(column);
    show_monitor();
  });
  connect(splitter_, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = splitter_->sizes();
    if (sizes.size() < 2 || !pane_->isVisible()) return;
    split_size_ = std::clamp(sizes[1], 12, 1200);
    emit splitSizeChanged(split_size_);
  });

  build_menu();
  add_shortcuts();
  reload_settings();
  show_monitor();
}

SessionMonitorPage::~SessionMonitorPage() {
  sessions::SessionSettings s = monitor_.settings();
  s.auto_block_log_view = log_view_->isChecked();
  sessions::save_session_settings(profile_, s);
  // The options page owns the other two keys of the blocked log and may have
  // changed them since the start: they are written back as they are now.
  sessions::AutoBlockSettings a = sessions::load_autoblock_settings(profile_);
  a.log_format = log_format_;
  sessions::save_autoblock_settings(profile_, a);
}

void SessionMonitorPage::build_menu() {
  menu_ = new QMenu(this);
  auto add = [this](const char* name, std::string_view en, std::string_view ja) {
    QAction* a = menu_->addAction(tr2(lang_, en, ja));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  remove_all_ = add("removeAll", "Remove all items", "全ての項目を削除");
  menu_->addSeparator();
  copy_ = add("clipboardCopy", "Clipboard Copy", "クリップボードへコピー");
  menu_->addSeparator();
  add_filter_ = add("addFilterRule", "Add to Packet filter rules", "パケットフィルターのルールに追加");
  kill_ = add("killSession", "Kill Session", "セッションを切断");
  menu_->addSeparator();
  nslookup_ = add("nslookup", "NSLOOKUP", "NSLOOKUP");
  whois_ = add("whois", "WHOIS", "WHOIS");
  ping_ = add("ping", "PING", "PING");
  tracert_ = add("tracert", "TRACERT", "TRACERT");

  connect(remove_all_, &QAction::triggered, this, &SessionMonitorPage::remove_all);
  connect(copy_, &QAction::triggered, this, &SessionMonitorPage::copy_selection);
  connect(kill_, &QAction::triggered, this, &SessionMonitorPage::kill_selection);
  const QList<QAction*> commands = tool_actions();
  for (int i = 0; i < commands.size(); ++i)
    connect(commands[i], &QAction::triggered, this,
            [this, i] { request_list_command(static_cast<shell::ListCommand>(i)); });
  connect(menu_, &QMenu::aboutToShow, this, &SessionMonitorPage::update_menu);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    update_menu();
    menu_->popup(list_->viewport()->mapToGlobal(pos));
  });
}

QList<QAction*> SessionMonitorPage::tool_actions() const { return {add_filter_, nslookup_, whois_, ping_, tracert_}; }

void SessionMonitorPage::update_menu() {
  const sessions::SessionMenuState m = monitor_.menu_state(!selected_rows(*list_).empty());
  remove_all_->setEnabled(m.remove_all);
  copy_->setEnabled(m.copy);
  kill_->setEnabled(m.kill);
  const QList<QAction*> commands = tool_actions();
  for (int i = 0; i < commands.size(); ++i)
    commands[i]->setEnabled(m.tools && list_commands_[static_cast<std::size_t>(i)]);
}

void SessionMonitorPage::set_list_commands(const shell::ListCommandSet& available) {
  list_commands_ = available;
  update_menu();
}

void SessionMonitorPage::request_list_command(shell::ListCommand command) {
  // The menu's rule again: a command may also come while the menu is open
  // and a refresh emptied the list.
  const std::vector<std::size_t> selected = selected_indices(*list_);
  if (!monitor_.menu_state(!selected.empty()).tools || !list_commands_[static_cast<std::size_t>(command)]) return;
  // The cells as the list shows them: the rows the user selected.
  std::vector<shell::ListRowCells> rows;
  const int count = model_->rowCount();
  for (const std::size_t r : selected) {
    const int row = static_cast<int>(r);
    if (row >= count) continue;
    rows.push_back({model_->text(row, SessionListModel::kLocalPort).toStdString(),
                    model_->text(row, SessionListModel::kRemoteAddress).toStdString(),
                    model_->text(row, SessionListModel::kRemoteHost).toStdString(),
                    model_->text(row, SessionListModel::kRemotePort).toStdString(), std::nullopt});
  }
  if (!rows.empty()) emit listCommandRequested(command, rows);
}

void SessionMonitorPage::add_shortcuts() {
  auto add = [this](QKeySequence keys, auto slot) {
    auto* sc = new QShortcut(keys, this);
    sc->setContext(Qt::WidgetWithChildrenShortcut);
    connect(sc, &QShortcut::activated, this, slot);
  };
  add(QKeySequence(Qt::CTRL | Qt::Key_C), [this] { copy_selection(); });
  add(QKeySequence(Qt::CTRL | Qt::Key_Delete), [this] { kill_selection(); });
  add(QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] { emit nextTabRequested(); });
  // Shift turns Tab into Backtab before shortcuts see it.
  add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), [this] { emit previousTabRequested(); });
  add(QKeySequence(Qt::Key_Return), [this] { toggle_running(); });
  add(QKeySequence(Qt::Key_Enter), [this] { toggle_running(); });
}

void SessionMonitorPage::show_monitor() {
  model_->show(monitor_.rows());
  model_->show_sort(monitor_.sort());
  start_->setText(monitor_.running() ? texts::stop(lang_) : texts::start(lang_));
  connections_->setText(qs(monitor_.connections_label()));
  blocked_->setText(qs(monitor_.blocked_label_text()));
  blocked_->setEnabled(monitor_.auto_block());
  if (auto_block_->isChecked() != monitor_.auto_block()) auto_block_->setChecked(monitor_.auto_block());
  if (monitor_.blocked_view() != shown_view_) {
    shown_view_ = monitor_.blocked_view();
    pane_->setPlainText(box_text(shown_view_));
  }
}

void SessionMonitorPage::toggle_running() {
  if (monitor_.running())
    monitor_.stop();
  else
    monitor_.start();
  show_monitor();
}

void SessionMonitorPage::remove_all() {
  monitor_.remove_all();
  show_monitor();
}

bool SessionMonitorPage::copy_selection() {
  // The same rule as the menu: with nothing selected the clipboard keeps
  // what it holds.
  if (!monitor_.menu_state(!selected_rows(*list_).empty()).copy) return false;
  return list_->copy_selection();
}

void SessionMonitorPage::kill_selection() {
  const std::vector<std::size_t> rows = selected_indices(*list_);
  // Ctrl+Delete obeys the menu's rule: no kill without the privilege.
  if (!monitor_.menu_state(!rows.empty()).kill) return;
  monitor_.kill(rows);
}

void SessionMonitorPage::open_log() {
  const QString path = qs(monitor_.blocked_log_path());
  const QString viewer = qs(monitor_.settings().log_viewer);
  if (!viewer.isEmpty()) {
    // The path goes as one argument, so names with blanks need no quotes.
    if (!QProcess::startDetached(viewer, {path}))
      QMessageBox::warning(this, QStringLiteral("Tarnwatch"), QStringLiteral("Could not open %1").arg(viewer));
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
    QMessageBox::warning(this, QStringLiteral("Tarnwatch"), QStringLiteral("Could not open the log file."));
}

void SessionMonitorPage::reload_settings() {
  const shared::ListColours colours = shared::load_list_colours(profile_);
  // The default background and text are used even when the file does not
  // name them: every default colour of the list (white hosts, pale yellow
  // addresses) is made for the black background, and on a desktop theme's
  // light one pending and unresolved hosts would be white on white.
  list_->set_base_colors(colours.get(shared::ColourKey::TextBk), colours.get(shared::ColourKey::Text));
  model_->set_colours(colours);
  list_->set_copy_items(shell::read_copy_items(profile_, sessions::kSessionSection));
}

void SessionMonitorPage::apply_split_size() {
  const int total = splitter_->height();
  if (total <= 0) return;
  splitter_->setSizes({std::max(total - split_size_ - splitter_->handleWidth(), 0), split_size_});
}

void SessionMonitorPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (pane_->isVisible()) apply_split_size();
}

}  // namespace tw::ui
