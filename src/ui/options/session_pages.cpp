#include "ui/options/session_pages.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/session_feature.h"
#include "logging/template.h"
#include "platform/file_store.h"
#include "sessions/netstat.h"
#include "sessions/session_list.h"
#include "ui/common/qt_text.h"
#include "ui/options/page_controls.h"
#include "ui/options/page_support.h"

namespace tw::ui {

namespace {

QFont fixed_font() {
  QFont mono(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::TypeWriter);
  return mono;
}

// The editor's text as the file keeps it: LF line ends (a CR the user pasted
// in from elsewhere goes too), the last line ended as well.
std::string rule_file_text(const QString& edited) {
  std::string out;
  const std::string text = to_std(edited);
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------

AutoKillSessionPage::AutoKillSessionPage(settings::Profile& profile, const std::string& data_folder, Language lang,
                                         QWidget* parent)
    : OptionsPage(shell::OptionsPageId::AutoKillSession, profile, lang, parent),
      rule_path_(data_folder + std::string(app::kAutoBlockRuleFileName)) {
  auto* layout = new QVBoxLayout(this);
  blocked_log_ = make_check(this, "blockedLog", tr2(lang, "Write the killed sessions to the log file",
                                                    "切断したセッションをログファイルに出力する"));
  layout->addWidget(blocked_log_);
  auto* name_row = new QHBoxLayout;
  name_row->addWidget(new QLabel(tr2(lang, "Output log filename", "出力ログファイル名"), this));
  file_name_ = new QLineEdit(this);
  file_name_->setObjectName(QStringLiteral("logFileName"));
  name_row->addWidget(file_name_, 1);
  layout->addLayout(name_row);
  layout->addWidget(new QLabel(tr2(lang, "Rules (takes effect at the next start)",
                                   "ルール (次回の起動時から有効)"), this));
  rules_ = new QPlainTextEdit(this);
  rules_->setObjectName(QStringLiteral("rules"));
  rules_->setLineWrapMode(QPlainTextEdit::NoWrap);
  rules_->setFont(fixed_font());
  layout->addWidget(rules_, 1);
  rules_problem_ = new QLabel(this);
  rules_problem_->setObjectName(QStringLiteral("rulesProblem"));
  rules_problem_->setWordWrap(true);
  rules_problem_->hide();
  layout->addWidget(rules_problem_);
  connect(blocked_log_, &QCheckBox::toggled, file_name_, &QWidget::setEnabled);
}

void AutoKillSessionPage::load() {
  loaded_ = sessions::load_autoblock_settings(profile());
  blocked_log_->setChecked(loaded_.blocked_log);
  file_name_->setText(qs(loaded_.log_file_name));
  file_name_->setEnabled(loaded_.blocked_log);

  const std::string& path = rule_path_;
  const Result<std::string> text = profile().files().read(path, app::kMaxRuleFileBytes);
  rules_existed_ = text.ok();
  rules_writable_ = text.ok() || text.error().errno_value == platform::kFileMissingErrno;
  if (text) {
    // The whole file, however long its lines: what OK writes back must
    // not lose rules that this editor merely shows.
    rules_->setPlainText(qs(logging::crlf_to_lf(*text)));
  } else if (!rules_writable_) {
    // A file that cannot be read must not be replaced by an empty editor.
    rules_->setEnabled(false);
    rules_problem_->setText(tr2(lang(), "The rule file cannot be read; it is left as it is: ",
                                "ルールファイルを読めないため、変更しません: ") +
                            qs(path));
    rules_problem_->show();
  }
}

void AutoKillSessionPage::save() {
  sessions::AutoBlockSettings a = sessions::load_autoblock_settings(profile());
  a.blocked_log = blocked_log_->isChecked();
  a.log_file_name = to_std(file_name_->text());
  if (a.log_file_name.empty()) a.log_file_name = loaded_.log_file_name;
  sessions::save_autoblock_settings(profile(), a);

  if (!rules_writable_) return;
  const std::string text = rule_file_text(rules_->toPlainText());
  // No rules and no file: nothing to keep. An emptied editor empties the
  // file, which holds no rules just as a missing one.
  if (text.empty() && !rules_existed_) return;
  (void)profile().files().replace(rule_path_, text);
}

// ---------------------------------------------------------------------------

namespace {

QStringList colour_names(Language lang) {
  QStringList names;
  for (const auto& k : shared::colour_keys()) names << tr2(lang, k.description_en, k.description_ja);
  return names;
}

std::vector<std::uint32_t> default_colours() {
  const shared::ListColours d = shared::default_list_colours();
  return {d.colours.begin(), d.colours.end()};
}

}  // namespace

MonitorColorPage::MonitorColorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : ColorSlotPage(shell::OptionsPageId::MonitorColor, profile, lang, parent, colour_names(lang),
                    make_default_color_button, default_colours()) {}

void MonitorColorPage::load() {
  loaded_ = shared::load_list_colours(profile());
  colors()->set_colors({loaded_.colours.begin(), loaded_.colours.end()});
}

void MonitorColorPage::save() {
  shared::ListColours c = loaded_;
  const std::vector<std::uint32_t> chosen = colors()->colors();
  for (std::size_t i = 0; i < c.colours.size() && i < chosen.size(); ++i) c.colours[i] = chosen[i];
  shared::save_list_colours(profile(), c);
}

// ---------------------------------------------------------------------------

std::vector<shell::ListColumn> session_copy_columns() {
  std::vector<shell::ListColumn> out;
  for (const auto& c : sessions::session_columns())
    out.push_back({c.header_en, c.header_ja, c.default_width,
                   c.align_right ? shell::ColumnAlign::Right : shell::ColumnAlign::Left});
  return out;
}

CopyItemsPage::CopyItemsPage(shell::OptionsPageId id, std::string section, std::vector<shell::ListColumn> columns,
                             settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(id, profile, lang, parent), section_(std::move(section)) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr2(lang, "Items to copy to the clipboard", "クリップボードにコピーする項目"), this));
  // Six boxes to a column: the packet list's twelve columns fit in two.
  auto* grid = new QGridLayout;
  const std::size_t n = std::min(columns.size(), shell::kCopyItemFields);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string name = "copyColumn" + std::to_string(i);
    boxes_.push_back(make_check(this, name.c_str(), qs(shell::column_header(columns[i], lang))));
    grid->addWidget(boxes_.back(), static_cast<int>(i % 6), static_cast<int>(i / 6));
  }
  layout->addLayout(grid);
  layout->addStretch();
}

QCheckBox* CopyItemsPage::column_box(int column) const {
  return column >= 0 && column < static_cast<int>(boxes_.size()) ? boxes_[static_cast<std::size_t>(column)] : nullptr;
}

void CopyItemsPage::load() {
  loaded_ = shell::read_copy_items(profile(), section_);
  for (std::size_t i = 0; i < boxes_.size(); ++i) boxes_[i]->setChecked(loaded_[i] == 1);
}

void CopyItemsPage::save() {
  shell::CopyItems items = loaded_;
  // A stored value other than 0 and 1 (hand-edited) stays unless toggled.
  for (std::size_t i = 0; i < boxes_.size(); ++i)
    if (boxes_[i]->isChecked() != (loaded_[i] == 1)) items[i] = boxes_[i]->isChecked() ? 1 : 0;
  shell::write_copy_items(profile(), section_, items);
}

// ---------------------------------------------------------------------------

namespace {
constexpr int kMinCycle = 1;
constexpr int kMaxCycle = 3600;
}  // namespace

LogFilePage::LogFilePage(shell::OptionsPageId id, logging::LogKind kind, const QString& check_text,
                         settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(id, profile, lang, parent), kind_(kind) {
  auto* layout = new QVBoxLayout(this);
  log_check_ = make_check(this, "logCheck", check_text);
  layout->addWidget(log_check_);
  auto* grid = new QGridLayout;
  auto* name_label = new QLabel(tr2(lang, "Output log filename", "出力ログファイル名"), this);
  grid->addWidget(name_label, 0, 0);
  file_name_ = new QLineEdit(this);
  file_name_->setObjectName(QStringLiteral("logFileName"));
  grid->addWidget(file_name_, 0, 1, 1, 2);
  auto* cycle_label = new QLabel(tr2(lang, "Logging interval", "ログ出力間隔"), this);
  grid->addWidget(cycle_label, 1, 0);
  cycle_ = make_spin(this, "logCycleTime", kMinCycle, kMaxCycle);
  grid->addWidget(cycle_, 1, 1);
  auto* cycle_unit = new QLabel(tr2(lang, "Sec. (1~3600)", "秒 (1～3600)"), this);
  grid->addWidget(cycle_unit, 1, 2);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);
  sound_ = make_check(this, "logSound", tr2(lang, "Play a sound when writing", "書き込み時に音を鳴らす"));
  overwrite_ = make_check(this, "logWriteMode", tr2(lang, "Overwrite mode", "上書きモード"));
  layout->addWidget(sound_);
  layout->addWidget(overwrite_);
  auto* format_row = new QHBoxLayout;
  auto* format_label = new QLabel(tr2(lang, "Log formatting", "ログの書式"), this);
  format_row->addWidget(format_label);
  format_row->addStretch();
  auto* def = make_default_button(this, lang);
  format_row->addWidget(def);
  layout->addLayout(format_row);
  format_ = new QPlainTextEdit(this);
  format_->setObjectName(QStringLiteral("logFmt"));
  format_->setLineWrapMode(QPlainTextEdit::NoWrap);
  format_->setFont(fixed_font());
  layout->addWidget(format_, 1);
  dependents_ = {name_label, file_name_, cycle_label, cycle_, cycle_unit, sound_, overwrite_,
                 format_label, def, format_};
  connect(log_check_, &QCheckBox::toggled, this, [this] { update_enabled(); });
  connect(def, &QPushButton::clicked, this, [this] {
    if (!ask_back_to_defaults(this, this->lang())) return;
    format_->setPlainText(
        qs(logging::crlf_to_lf(logging::template_from_stored(logging::default_log_fmt(kind_, this->lang())))));
  });
}

void LogFilePage::load() {
  loaded_ = logging::load_log_block(profile(), kind_, lang());
  log_check_->setChecked(loaded_.log_check);
  sound_->setChecked(loaded_.log_sound);
  overwrite_->setChecked(loaded_.log_write_mode != 0);
  file_name_->setText(qs(loaded_.log_file_name));
  cycle_->setValue(loaded_.log_cycle_time);
  format_->setPlainText(qs(logging::crlf_to_lf(loaded_.log_fmt)));
  update_enabled();
}

void LogFilePage::save() {
  logging::LogBlock b = loaded_;
  b.log_check = log_check_->isChecked();
  b.log_file_name = to_std(file_name_->text());
  if (b.log_file_name.empty()) b.log_file_name = std::string(logging::default_log_file_name(kind_));
  b.log_sound = sound_->isChecked();
  // A stored period outside 1..3600 shows clamped and stays as it is unless
  // the user picks another one.
  const int cycle = cycle_->value();
  if (cycle != std::clamp(loaded_.log_cycle_time, kMinCycle, kMaxCycle)) b.log_cycle_time = cycle;
  b.log_fmt = to_std(format_->toPlainText());
  // Any other stored mode than 0 also overwrites; it is kept while the box
  // stays checked.
  const bool overwrite = overwrite_->isChecked();
  if (overwrite != (loaded_.log_write_mode != 0)) b.log_write_mode = overwrite ? 1 : 0;
  logging::save_log_block(profile(), kind_, b);
}

void LogFilePage::update_enabled() {
  for (QWidget* w : dependents_) w->setEnabled(log_check_->isChecked());
}

// ---------------------------------------------------------------------------

NetstatViewPage::NetstatViewPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::NetstatView, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr2(lang, "TCP states to list", "一覧に表示するTCPの状態"), this));
  states_ = new QListWidget(this);
  states_->setObjectName(QStringLiteral("states"));
  for (int state = 1; state <= 12; ++state) {
    const QString text = QStringLiteral(" %1 (%2)")
                             .arg(qs(sessions::netstat_state_name(state)),
                                  qs(sessions::netstat_state_description(state, lang)));
    auto* item = new QListWidgetItem(text, states_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
  layout->addWidget(states_, 1);
}

void NetstatViewPage::load() {
  const sessions::NetstatFilter f = sessions::load_netstat_filter(profile());
  for (int i = 0; i < states_->count(); ++i)
    states_->item(i)->setCheckState(sessions::netstat_listed(f, i + 1) ? Qt::Checked : Qt::Unchecked);
}

void NetstatViewPage::save() {
  sessions::NetstatFilter f = sessions::load_netstat_filter(profile());
  for (int i = 0; i < states_->count() && i < static_cast<int>(f.size()); ++i) {
    const bool on = states_->item(i)->checkState() == Qt::Checked;
    // A hand-written non-zero flag other than 1 is kept while it stays on.
    if (on != (f[static_cast<std::size_t>(i)] != 0)) f[static_cast<std::size_t>(i)] = on ? 1 : 0;
  }
  sessions::save_netstat_filter(profile(), f);
}

}  // namespace tw::ui
