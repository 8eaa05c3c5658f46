#pragma once
// The pieces every page with colour slots is made of: the "Colors" list with
// its two headers, and the right-aligned button that puts the defaults back
// after asking. ColorSlotPage is the page that is nothing but these two.
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/options/color_list.h"
#include "ui/options/options_page.h"

class QBoxLayout;
class QPushButton;

namespace tw::ui {

// "Color" / "Item Name" headers with the list's default widths.
ColorList::Columns color_columns(Language lang);

// The list named "Colors" (the pages' load/save and the tests find it by that
// name), one row per name.
ColorList* make_color_list(QWidget* parent, ColorList::Layout layout, const ColorList::Columns& columns,
                           const QStringList& names);

// The "Default Color" button of the colour pages and the "Default" button of
// the other pages. Neither is an auto-default: Enter belongs to the dialog's OK.
QPushButton* make_default_color_button(QWidget* parent, Language lang);
QPushButton* make_default_button(QWidget* parent, Language lang);

// Adds `button` at the right of a row of its own at the end of `layout`; a
// click asks first and runs `restore` only on Yes. Restoring fills the
// controls only; nothing is written before the dialog's OK.
void add_restore_row(QBoxLayout* layout, QPushButton* button, Language lang, std::function<void()> restore);

// A page holding only a colour list and its restore button.
class ColorSlotPage : public OptionsPage {
  Q_OBJECT
 public:
  ColorList* colors() const { return colors_; }

 protected:
  // `make_button` is one of the two default-button makers above.
  ColorSlotPage(shell::OptionsPageId id, settings::Profile& profile, Language lang, QWidget* parent,
                const QStringList& names, QPushButton* (*make_button)(QWidget*, Language),
                std::vector<std::uint32_t> defaults);

 private:
  ColorList* colors_ = nullptr;
};

}  // namespace tw::ui
