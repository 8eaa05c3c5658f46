#include "ui/options/tool_pages.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "tools/nslookup.h"
#include "tools/whois.h"
#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"
#include "ui/options/page_controls.h"

namespace tw::ui {

NsRecordPage::NsRecordPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::NsRecord, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  for (std::size_t i = 0; i < types_.size(); ++i) {
    const std::string name = std::string("type") + tools::kRecordTypes[i].name;
    types_[i] = make_check(this, name.c_str(), qs(tools::kRecordTypes[i].name));
    layout->addWidget(types_[i]);
  }
  direct_ = make_check(this, "direct", tr2(lang, "Not use the Resolver cache.", "リゾルバキャッシュを使用しない。"));
  layout->addSpacing(8);
  layout->addWidget(direct_);
  layout->addStretch(1);
}

void NsRecordPage::load() {
  const auto s = tools::load_nslookup_settings(profile());
  for (std::size_t i = 0; i < types_.size(); ++i) types_[i]->setChecked(s.filter[i] != 0);
  // With IPv6 off there is no AAAA section to choose; its stored flag is kept.
  types_[tools::kAaaaFilterIndex]->setVisible(s.ipv6);
  direct_->setChecked(s.bypass_cache);
}

void NsRecordPage::save() {
  tools::RecordFilter f{};
  for (std::size_t i = 0; i < types_.size(); ++i) f[i] = types_[i]->isChecked() ? 1 : 0;
  tools::save_nslookup_options(profile(), f, direct_->isChecked());
}

WhoisServerPage::WhoisServerPage(settings::Profile& profile, const std::string& data_folder, Language lang,
                                 QWidget* parent)
    : OptionsPage(shell::OptionsPageId::WhoisServer, profile, lang, parent),
      table_path_(data_folder + "tarnix" + std::string(tools::kWhoisTableSuffix)) {
  table_ = new QTreeWidget(this);
  table_->setObjectName(QStringLiteral("servers"));
  table_->setRootIsDecorated(false);
  table_->setColumnCount(2);
  table_->setHeaderLabels({texts::whois_target_domain(lang), texts::whois_server(lang)});
  table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto* edit = new QPushButton(texts::edit(lang), this);
  edit->setObjectName(QStringLiteral("edit"));
  edit->setAutoDefault(false);  // Enter in the dialog belongs to OK and Cancel
  connect(edit, &QPushButton::clicked, this, &WhoisServerPage::edit);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(edit);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(row);
  open_file = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
}

void WhoisServerPage::load() {
  table_->clear();
  for (const auto& e : tools::load_whois_table(profile().files(), table_path_)) {
    if (e.pattern.empty()) continue;  // a line that is not an entry
    table_->addTopLevelItem(new QTreeWidgetItem({qs(e.pattern), qs(e.server)}));
  }
}

void WhoisServerPage::edit() {
  (void)tools::load_whois_table(profile().files(), table_path_);  // writes the default table when there is none
  if (!open_file(qs(table_path_))) {
    QMessageBox::warning(this, QStringLiteral("Tarnwatch"),
                         tr2(lang(), "WHOIS Setting File is Not Found.", "WHOIS設定ファイルが開けませんでした."));
  }
}

CommandOptionsPage::CommandOptionsPage(const tools::CommandToolKind& kind, shell::OptionsPageId id,
                                       settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(id, profile, lang, parent), kind_(kind) {
  options_ = new QLineEdit(this);
  options_->setObjectName(QStringLiteral("options"));
  auto* form = new QFormLayout;
  form->addRow(texts::options(lang), options_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addStretch(1);
}

void CommandOptionsPage::load() { options_->setText(qs(tools::load_command_tool(profile(), kind_).options)); }

void CommandOptionsPage::save() { tools::save_command_tool_options(profile(), kind_, to_std(options_->text())); }

}  // namespace tw::ui
