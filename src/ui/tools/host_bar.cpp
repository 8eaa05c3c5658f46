#include "ui/tools/host_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "ui/options/page_support.h"

namespace tw::ui {

HostBar::HostBar(QWidget* parent) : QWidget(parent) {
  hosts_ = new QComboBox(this);
  hosts_->setObjectName(QStringLiteral("hosts"));
  hosts_->setEditable(true);
  hosts_->setInsertPolicy(QComboBox::NoInsert);  // the list is ours to fill
  hosts_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  button_ = new QPushButton(QStringLiteral("START"), this);
  button_->setObjectName(QStringLiteral("startButton"));
  history_ = new QCheckBox(QStringLiteral("History"), this);
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

void HostBar::refill() {
  const QString field = hosts_->currentText();
  hosts_->clear();
  for (const auto& e : list_.entries()) hosts_->addItem(qs(e));
  hosts_->setEditText(field);
}

}  // namespace tw::ui
