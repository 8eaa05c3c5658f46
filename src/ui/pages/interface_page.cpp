#include "ui/pages/interface_page.h"

#include <QPlainTextEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include "platform/link_stats.h"
#include "platform/network_info.h"
#include "settings/profile.h"
#include "traffic/info_report.h"
#include "ui/common/output_box.h"

namespace tw::ui {

InterfacePage::InterfacePage(settings::Profile& profile, platform::NetworkInfoSource& info,
                             platform::LinkStatsSource& links, Language lang, QWidget* parent)
    : QWidget(parent), profile_(profile), info_(info), links_(links), lang_(lang) {
  output_ = make_output_box(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(output_);
  reload_settings();
}

void InterfacePage::reload_settings() {
  // Shared with the other tool pages' output boxes; edited on the options
  // dialog's Color page.
  apply_output_box_colors(*output_, profile_);
}

void InterfacePage::refresh() {
  std::string text = traffic::network_params_report(info_, lang_);
  text += traffic::adapter_report(info_, lang_);
  for (const std::string& line : traffic::interface_report(links_, lang_)) {
    text += line;
    text += '\n';
  }
  output_->setPlainText(box_text(text));
}

void InterfacePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
}

}  // namespace tw::ui
