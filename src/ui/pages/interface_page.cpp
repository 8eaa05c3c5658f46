#include "ui/pages/interface_page.h"

#include <QFont>
#include <QPalette>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include "platform/link_stats.h"
#include "platform/network_info.h"
#include "settings/profile.h"
#include "shell/options_model.h"
#include "traffic/info_report.h"
#include "ui/options/page_support.h"

namespace tw::ui {

InterfacePage::InterfacePage(settings::Profile& profile, platform::NetworkInfoSource& info,
                             platform::LinkStatsSource& links, Language lang, QWidget* parent)
    : QWidget(parent), profile_(profile), info_(info), links_(links), lang_(lang) {
  output_ = new QPlainTextEdit(this);
  output_->setReadOnly(true);
  output_->setLineWrapMode(QPlainTextEdit::NoWrap);  // the reports are fixed-width columns
  output_->setUndoRedoEnabled(false);
  // The face is asked for by name; where it is not installed the style hint
  // lets Qt pick the system's monospace font, so the columns still line up.
  QFont font(QStringLiteral("Lucida Console"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  output_->setFont(font);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(output_);
  reload_settings();
}

void InterfacePage::reload_settings() {
  // Shared with the other tool pages' output boxes; edited on the options
  // dialog's Color page.
  const shell::OutputBoxColors colors = shell::load_output_box_colors(profile_);
  QPalette pal = output_->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    pal.setColor(group, QPalette::Base, from_colorref(colors.background));
    pal.setColor(group, QPalette::Text, from_colorref(colors.text));
  }
  output_->setPalette(pal);
}

void InterfacePage::refresh() {
  std::string text = traffic::network_params_report(info_, lang_);
  text += traffic::adapter_report(info_, lang_);
  for (const std::string& line : traffic::interface_report(links_, lang_)) {
    text += line;
    text += '\n';
  }
  // The reports end their lines with CR LF; the box wants plain line feeds.
  std::string plain;
  plain.reserve(text.size());
  for (char c : text)
    if (c != '\r') plain += c;
  output_->setPlainText(qs(plain));
}

void InterfacePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
}

}  // namespace tw::ui
