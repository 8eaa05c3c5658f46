#pragma once
// The row above a tool's output box: the editable host list, the START/STOP
// button and the "History" check box, with the host list kept in the order
// and with the entries of tools::HostList.
#include <QWidget>

#include "base/language.h"
#include "tools/tool_history.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace tw::ui {

class HostBar : public QWidget {
  Q_OBJECT
 public:
  HostBar(Language lang, QWidget* parent);

  QComboBox* hosts() const { return hosts_; }
  QPushButton* button() const { return button_; }
  QCheckBox* history() const { return history_; }

  // The text in the field.
  std::string text() const;
  void set_text(const std::string& text);
  // Adds the text to the list (unless there with exactly that text) and
  // keeps the field as it is.
  void add(const std::string& text);
  tools::HostList& list() { return list_; }
  // Shows the list's entries again (after a load).
  void refill();
  // The button reads STOP while a run is under way, else START.
  void show_running(bool running);

 signals:
  // Enter in the field.
  void entered();

 private:
  Language lang_;
  QComboBox* hosts_ = nullptr;
  QPushButton* button_ = nullptr;
  QCheckBox* history_ = nullptr;
  tools::HostList list_;
};

}  // namespace tw::ui
