#include "ui/options/output_color_page.h"

#include "ui/options/page_support.h"

namespace tw::ui {

namespace {
std::vector<std::uint32_t> as_list(const app::OutputBoxColors& c) { return {c.background, c.text}; }
}  // namespace

OutputColorPage::OutputColorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : ColorSlotPage(app::OptionsPageId::OutputColor, profile, lang, parent,
                    {tr2(lang, "Background", "背景色"), tr2(lang, "Text", "文字色")}, make_default_button,
                    as_list(app::OutputBoxColors{})) {}

void OutputColorPage::load() { colors()->set_colors(as_list(app::load_output_box_colors(profile()))); }

void OutputColorPage::save() {
  app::save_output_box_colors(profile(), {colors()->color(0), colors()->color(1)});
}

}  // namespace tw::ui
