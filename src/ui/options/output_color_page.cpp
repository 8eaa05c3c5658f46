#include "ui/options/output_color_page.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/options/color_list.h"
#include "ui/options/page_support.h"

namespace tw::ui {

namespace {
std::vector<std::uint32_t> as_list(const app::OutputBoxColors& c) { return {c.background, c.text}; }
}  // namespace

OutputColorPage::OutputColorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(app::OptionsPageId::OutputColor, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  ColorList::Columns columns;
  columns.color_header = tr2(lang, "Color", "カラー");
  columns.name_header = tr2(lang, "Item Name", "項目名");
  colors_ = new ColorList(ColorList::Layout::ColorFirst, columns, this);
  colors_->setObjectName(QStringLiteral("Colors"));
  colors_->set_names({tr2(lang, "Background", "背景色"), tr2(lang, "Text", "文字色")});
  layout->addWidget(colors_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  auto* def = new QPushButton(tr2(lang, "Default", "初期値に戻す"), this);
  def->setObjectName(QStringLiteral("Default"));
  def->setAutoDefault(false);
  row->addWidget(def);
  layout->addLayout(row);
  connect(def, &QPushButton::clicked, this, [this] {
    if (ask_back_to_defaults(this, this->lang())) colors_->set_colors(as_list(app::OutputBoxColors{}));
  });
}

void OutputColorPage::load() { colors_->set_colors(as_list(app::load_output_box_colors(profile()))); }

void OutputColorPage::save() {
  app::save_output_box_colors(profile(), {colors_->color(0), colors_->color(1)});
}

}  // namespace tw::ui
