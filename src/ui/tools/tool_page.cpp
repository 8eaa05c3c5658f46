#include "ui/tools/tool_page.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "settings/profile.h"
#include "tools/tool_settings.h"
#include "ui/common/output_box.h"
#include "ui/common/qt_text.h"

namespace tw::ui {
std::string tool_file_path(const std::string& data_folder, std::string_view suffix) {
  return data_folder + "tarnix" + std::string(suffix);
}

ToolPage::ToolPage(settings::Profile& profile, Language lang, QWidget* parent)
    : QWidget(parent), profile_(profile), lang_(lang) {
  output_ = make_output_box(this);
  output_->setObjectName(QStringLiteral("output"));
}

void ToolPage::reload_settings() { apply_output_box_colors(*output_, profile_); }

void ToolPage::show_text(const std::string& text) {
  output_->setPlainText(box_text(text));
  shown_length_ = text.size();
  output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
}

void ToolPage::show_report(const std::string& text) {
  output_->setPlainText(box_text(text));
  shown_length_ = text.size();
  output_->moveCursor(QTextCursor::Start);
  output_->verticalScrollBar()->setValue(0);
  output_->horizontalScrollBar()->setValue(0);
}

void ToolPage::keyPressEvent(QKeyEvent* event) {
  if (swallows_escape_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ToolPage::append_text(const std::string& text) {
  output_->moveCursor(QTextCursor::End);
  output_->insertPlainText(box_text(text));
  shown_length_ += text.size();
}

void ToolPage::add_options_command(int group) {
  output_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(output_, &QWidget::customContextMenuRequested, this, [this, group](const QPoint& pos) {
    std::unique_ptr<QMenu> menu(output_->createStandardContextMenu());
    menu->addSeparator();
    QAction* options = menu->addAction(tr2(lang_, "Options(&O)...", "オプション設定(&O)..."));
    if (menu->exec(output_->viewport()->mapToGlobal(pos)) == options) {
      tools::select_options_group(profile_, group);
      emit optionsRequested();
    }
  });
}

}  // namespace tw::ui
