#include "ui/options/output_color_page.h"

#include "ui/common/qt_text.h"

namespace tw::ui {

namespace {
std::vector<std::uint32_t> as_list(const shell::OutputBoxColors& c) { return {c.background, c.text}; }
}  // namespace

OutputColorPage::OutputColorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : ColorSlotPage(shell::OptionsPageId::OutputColor, profile, lang, parent,
                    {tr2(lang, "Background", "背景色"), tr2(lang, "Text", "文字色")}, make_default_button,
                    as_list(shell::OutputBoxColors{})) {}

void OutputColorPage::load() { colors()->set_colors(as_list(shell::load_output_box_colors(profile()))); }

void OutputColorPage::save() {
  shell::save_output_box_colors(profile(), {colors()->color(0), colors()->color(1)});
}

}  // namespace tw::ui
