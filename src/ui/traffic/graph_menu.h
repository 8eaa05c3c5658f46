#pragma once
// The traffic graph's context menu and its actions, and the display settings
// the graph changes by itself (menu toggles, the middle button, Ctrl+wheel):
// every write of the graph to its settings goes through here, and from here
// through the narrow savers of traffic/graph_logic.h, one key at a time.
//
// The toggle actions and the report actions (lists 0..6 on Ctrl+1..Ctrl+7,
// Hide Graph on Ctrl+0) live as long as the owner widget; the report actions
// are added to it so their shortcuts work, and report_actions() lets a page
// add them to itself as well. create() builds a fresh menu around them with
// the four commands.
//
// What an action does is the owner's: the Handlers are called with the owner
// as their connection context, so nothing runs once the owner is gone, even
// from a menu that outlives it.
//
// Threads: UI thread only.
#include <QAction>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/language.h"
#include "traffic/graph_logic.h"

class QMenu;
class QWidget;

namespace tw::settings {
class Profile;
}

namespace tw::ui {

class GraphMenu {
 public:
  struct Handlers {
    std::function<void()> reset_graph, reset_gross, copy_information, snapshot;
    std::function<void(std::uint8_t bits)> toggle_flags;
    // After a write, with the flag flipped (none for the font size): the
    // owner reads its settings again.
    std::function<void(std::optional<traffic::GraphFlag> flipped)> setting_written;
  };

  GraphMenu(QWidget& owner, settings::Profile& profile, Language lang, Handlers handlers);

  // Checks the actions from the settings and the display flags.
  void update(const traffic::GraphSettings& settings, std::uint8_t flags);
  // A new menu (the caller owns it) around the kept actions.
  QMenu* create(QWidget* parent) const;
  const std::vector<QAction*>& report_actions() const { return report_actions_; }

  void toggle(traffic::GraphFlag flag);
  void write_font_size(int size);

 private:
  QWidget& owner_;
  settings::Profile& profile_;
  const Language lang_;
  Handlers handlers_;

  std::vector<QAction*> report_actions_;  // lists 0..6, then Hide Graph
  QAction* view_mode_ = nullptr;
  QAction* max_line_ = nullptr;
  QAction* report_mode_ = nullptr;
  QAction* gradient_ = nullptr;
  QAction* double_sampling_ = nullptr;
  QAction* polyline_ = nullptr;
  QAction* direction_ = nullptr;
};

}  // namespace tw::ui
