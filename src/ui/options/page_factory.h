#pragma once
// Creates the options page object for a page id. Groups whose pages are not
// written yet get an empty page that loads and saves nothing. `data_folder`
// (ends in '/') holds the files some pages edit beside the settings.
#include <string>

#include "ui/options/options_page.h"

namespace tw::ui {

OptionsPage* create_options_page(shell::OptionsPageId id, settings::Profile& profile, const std::string& data_folder,
                                 Language lang, QWidget* parent);

}  // namespace tw::ui
