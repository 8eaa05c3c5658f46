#pragma once
// Base of every options page: a plain widget that reads its keys from the
// settings file when it is created (load) and writes them back when the
// options dialog closes with OK (save). The dialog decides when save() runs;
// a page never saves on its own.
#include <QWidget>

#include "base/language.h"
#include "shell/options_model.h"
#include "settings/profile.h"

namespace tw::ui {

class OptionsPage : public QWidget {
  Q_OBJECT
 public:
  OptionsPage(shell::OptionsPageId id, settings::Profile& profile, Language lang, QWidget* parent)
      : QWidget(parent), id_(id), profile_(profile), lang_(lang) {}

  shell::OptionsPageId id() const { return id_; }
  // Puts the stored values into the controls. Called once by the dialog after
  // construction.
  virtual void load() {}
  // Writes the controls' values. Called by the dialog at close, only after OK.
  virtual void save() {}

 protected:
  settings::Profile& profile() { return profile_; }
  Language lang() const { return lang_; }

 private:
  shell::OptionsPageId id_;
  settings::Profile& profile_;
  Language lang_;
};

}  // namespace tw::ui
