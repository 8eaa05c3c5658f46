#include "ui/traffic/traffic_monitor_page.h"

#include <QComboBox>
#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/traffic_graph.h"

namespace tw::ui {
namespace {

// Interfaces come and go (USB adapters, VPNs, containers): the list is read
// again just before it opens, so the user never picks from a stale list.
class InterfaceComboBox : public QComboBox {
 public:
  explicit InterfaceComboBox(QWidget* parent) : QComboBox(parent) {}
  std::function<void()> before_popup;
  void showPopup() override {
    if (before_popup) before_popup();
    QComboBox::showPopup();
  }
};

}  // namespace

TrafficMonitorPage::TrafficMonitorPage(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
                                       platform::Clock& clock, QWidget* parent)
    : QWidget(parent), monitor_(monitor) {
  auto* box = new InterfaceComboBox(this);
  box->before_popup = [this] { refresh_interfaces(); };
  box_ = box;
  box_->setObjectName(QStringLiteral("interfaceChoice"));
  box_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box_->installEventFilter(this);
  connect(box_, &QComboBox::activated, this, &TrafficMonitorPage::choose);

  // The graph first: it takes the monitor's restart listener, so the Restart
  // of the interface choice below already reaches it.
  graph_ = new TrafficGraph(monitor_, profile, lang, clock, this);
  connect(graph_, &TrafficGraph::snapshotRequested, this, &TrafficMonitorPage::snapshotRequested);
  // The automatic reset may choose another interface (or the list changed).
  connect(graph_, &TrafficGraph::statisticsRestarted, this, &TrafficMonitorPage::follow_monitor);
  // Ctrl+1..7 and Ctrl+0 anywhere on the page.
  for (QAction* a : graph_->report_actions()) addAction(a);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(box_);
  layout->addWidget(graph_, 1);

  const int pos = monitor_.start_with_stored_interface();
  fill_box(monitor_.names(), pos);
}

TrafficMonitorPage::~TrafficMonitorPage() { monitor_.save_interface_choice(); }

QImage TrafficMonitorPage::frame() const { return graph_->frame(); }

void TrafficMonitorPage::fill_box(const std::vector<std::string>& names, int selected) {
  const QSignalBlocker block(box_);
  box_->clear();
  for (const std::string& n : names) box_->addItem(QString::fromStdString(n));
  box_->setCurrentIndex(selected >= 0 && selected < box_->count() ? selected : (box_->count() > 0 ? 0 : -1));
}

bool TrafficMonitorPage::refresh_interfaces() {
  const std::vector<std::string> names = monitor_.enumerate_interfaces();
  // Linux always has at least the loopback interface: an empty list means the
  // table could not be read, and a passing failure must not throw away the
  // user's choice.
  if (names.empty() || static_cast<int>(names.size()) == box_->count()) return false;
  // By name: when a row before the selected one went away, the same position
  // now holds another interface; when the chosen one is back, it is taken
  // again.
  const int pos = monitor_.choose_again(traffic::RestartMode::Restart);
  fill_box(names, pos);
  return true;
}

void TrafficMonitorPage::follow_monitor() {
  const std::vector<std::string>& names = monitor_.names();
  bool same = static_cast<int>(names.size()) == box_->count();
  for (int i = 0; same && i < box_->count(); ++i) same = box_->itemText(i).toStdString() == names[static_cast<std::size_t>(i)];
  // A restart after a failed enumeration keeps what the box shows.
  if (!same && !names.empty()) {
    fill_box(names, monitor_.selected_interface());
  } else if (same) {
    const QSignalBlocker block(box_);
    box_->setCurrentIndex(std::clamp(monitor_.selected_interface(), -1, box_->count() - 1));
  }
}

void TrafficMonitorPage::choose(int index) {
  if (index < 0 || index >= box_->count()) return;
  const QString picked = box_->itemText(index);
  refresh_interfaces();
  const int pos = box_->findText(picked, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (pos < 0) return;  // gone meanwhile: the refresh chose already
  {
    const QSignalBlocker block(box_);
    box_->setCurrentIndex(pos);
  }
  monitor_.select_interface(pos);
}

void TrafficMonitorPage::reload_settings() {
  monitor_.reload_settings();
  graph_->reload_settings();
}

void TrafficMonitorPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh_interfaces();
}

void TrafficMonitorPage::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible()) refresh_interfaces();
}

bool TrafficMonitorPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == box_ && event->type() == QEvent::FocusIn) refresh_interfaces();
  return QWidget::eventFilter(watched, event);
}

}  // namespace tw::ui
