#include "ui/tools/host_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"
#include "ui/controls/list_font.h"

namespace tw::ui {

HostBar::HostBar(Language lang, QWidget* parent) : QWidget(parent), lang_(lang) {
  hosts_ = new QComboBox(this);
  hosts_->setObjectName(QStringLiteral("hosts"));
  hosts_->setEditable(true);
  hosts_->setInsertPolicy(QComboBox::NoInsert);  // the list is ours to fill
  hosts_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // Hosts are often addresses: in a face that tells "." from ",".
  hosts_->setFont(list_font(lang_, hosts_->font()));
  button_ = new QPushButton(texts::start(lang_), this);
  button_->setObjectName(QStringLiteral("startButton"));
  history_ = new QCheckBox(texts::history(lang_), this);
  history_->setObjectName(QStringLiteral("history"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(hosts_, 1);
  row->addWidget(button_);
  row->addWidget(history_);
  connect(hosts_->lineEdit(), &QLineEdit::returnPressed, this, &HostBar::entered);
}

std::string HostBar::text() const { return to_std(hosts_->currentText()); }

void HostBar::set_text(const std::string& text) { hosts_->setEditText(qs(text)); }

void HostBar::add(const std::string& text) {
  if (list_.add(text)) refill();
}

void HostBar::show_running(bool running) { button_->setText(running ? texts::stop(lang_) : texts::start(lang_)); }

void HostBar::refill() {
  const QString field = hosts_->currentText();
  hosts_->clear();
  for (const auto& e : list_.entries()) hosts_->addItem(qs(e));
  hosts_->setEditText(field);
}

}  // namespace tw::ui
