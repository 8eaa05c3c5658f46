#include "ui/options/color_slot_page.h"

#include <QBoxLayout>
#include <QPushButton>

#include <utility>

#include "ui/common/qt_text.h"
#include "ui/options/page_support.h"

namespace tw::ui {

namespace {
QPushButton* make_restore_button(QWidget* parent, const char* key, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(key));
  button->setAutoDefault(false);
  return button;
}
}  // namespace

ColorList::Columns color_columns(Language lang) {
  ColorList::Columns c;
  c.color_header = tr2(lang, "Color", "カラー");
  c.name_header = tr2(lang, "Item Name", "項目名");
  return c;
}

ColorList* make_color_list(QWidget* parent, ColorList::Layout layout, const ColorList::Columns& columns,
                           const QStringList& names) {
  auto* list = new ColorList(layout, columns, parent);
  list->setObjectName(QStringLiteral("Colors"));
  list->set_names(names);
  return list;
}

QPushButton* make_default_color_button(QWidget* parent, Language lang) {
  return make_restore_button(parent, "DefaultColor", tr2(lang, "Default Color", "初期色に戻す"));
}

QPushButton* make_default_button(QWidget* parent, Language lang) {
  return make_restore_button(parent, "Default", tr2(lang, "Default", "初期値に戻す"));
}

void add_restore_row(QBoxLayout* layout, QPushButton* button, Language lang, std::function<void()> restore) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button);
  layout->addLayout(row);
  // The question's parent is the page the button sits on.
  QObject::connect(button, &QPushButton::clicked, button, [button, lang, restore = std::move(restore)] {
    if (ask_back_to_defaults(button->parentWidget(), lang)) restore();
  });
}

ColorSlotPage::ColorSlotPage(shell::OptionsPageId id, settings::Profile& profile, Language lang, QWidget* parent,
                             const QStringList& names, QPushButton* (*make_button)(QWidget*, Language),
                             std::vector<std::uint32_t> defaults)
    : OptionsPage(id, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  colors_ = make_color_list(this, ColorList::Layout::ColorFirst, color_columns(lang), names);
  layout->addWidget(colors_);
  add_restore_row(layout, make_button(this, lang), lang,
                  [this, defaults = std::move(defaults)] { colors_->set_colors(defaults); });
}

}  // namespace tw::ui
