#pragma once
// The "Traffic Monitor" tab: the interface combo box above the traffic graph.
//
// Use: TrafficMonitorPage(monitor, profile, lang, clock, parent). The constructor
// chooses the interface from "Settings"/"Interface" and "InterfaceName"
// (TrafficMonitor::start_with_stored_interface: enumerate, choose, select -
// a Restart - and load the gross totals), so the caller creates the monitor,
// then the page, and does not choose an interface itself. The page does not
// run the sampler: whoever owns the monitor calls tick() on the sampler
// thread. The destructor writes "Settings"/"Interface" and "InterfaceName".
//
// The main window:
// - saves frame() as the snapshot when snapshotRequested() arrives (from the
//   graph's context menu; the menu command of its own does the same);
// - calls reload_settings() after the options dialog's OK;
// - sends the report and hide-graph toggles of its own menus to
//   graph()->toggle_display_flags(), "Reset Total gross Transfer amount" to
//   graph()->reset_gross() (which asks the question) and "Copy Transfer
//   Information" to graph()->copy_transfer_information().
// Ctrl+1..Ctrl+7 and Ctrl+0 toggle the report columns and the graph layer
// while the focus is on the page.
//
// Interface list: re-enumerated whenever the page is shown, its window is
// activated, the combo box gets the focus or opens its list; when the number
// of rows changed the box is refilled and the interface chosen again by name
// (TrafficMonitor::choose_again, a Restart). After every restart the box
// shows the monitor's list and position, so a choice made by the automatic
// reset shows too.
//
// Threads: UI thread only. The monitor and the profile must outlive the page.
#include <QImage>
#include <QWidget>

#include <string>
#include <vector>

#include "base/language.h"

class QComboBox;

namespace tw::platform {
class Clock;
}
namespace tw::settings {
class Profile;
}
namespace tw::traffic {
class TrafficMonitor;
}

namespace tw::ui {

class TrafficGraph;

class TrafficMonitorPage : public QWidget {
  Q_OBJECT
 public:
  TrafficMonitorPage(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                     platform::Clock& clock, QWidget* parent = nullptr);
  ~TrafficMonitorPage() override;

  TrafficGraph* graph() const { return graph_; }
  QComboBox* interface_box() const { return box_; }
  // The graph's last frame, for the snapshot.
  QImage frame() const;

  // Enumerates the interfaces again. When the number of rows changed,
  // refills the box and chooses again: the chosen interface by its name when
  // it is there, else the default one (see TrafficMonitor::choose_again). A
  // table that cannot be read changes nothing. Returns true when the box was
  // refilled.
  bool refresh_interfaces();
  // The user picked entry `index`: the list is checked first, then the first
  // entry with the picked name is handed to the sampler, which restarts even
  // when the same interface is picked again.
  void choose(int index);

  // Re-reads the sampler's and the graph's settings (after the options dialog's OK).
  void reload_settings();

 signals:
  void snapshotRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fill_box(const std::vector<std::string>& names, int selected);
  void follow_monitor();

  traffic::TrafficMonitor& monitor_;
  QComboBox* box_ = nullptr;
  TrafficGraph* graph_ = nullptr;
};

}  // namespace tw::ui
