// Which interface the Traffic Monitor watches: the stored choice, the first
// start's default and the choice made again after a change.
#include "traffic/traffic_monitor.h"

#include <algorithm>

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Interface choice

std::vector<std::string> TrafficMonitor::enumerate_interfaces() {
  names_.clear();
  {
    std::lock_guard lock(mu_);
    if (links_.read_table(enum_rows_)) {
      names_.reserve(enum_rows_.size());
      for (const auto& row : enum_rows_) names_.push_back(row.name);
    }
  }
  return names_;
}

void TrafficMonitor::select_interface(int position) {
  if (position >= 0 && static_cast<std::size_t>(position) < names_.size())
    chosen_name_ = names_[static_cast<std::size_t>(position)];
  restart_at(RestartMode::Restart, position);
}

int TrafficMonitor::choose_again(RestartMode mode) {
  if (!names_.empty()) {
    // Another interface came or went, not the sampled one: it keeps being
    // counted wherever the table now lists it.
    std::lock_guard lock(mu_);
    if (state_ == InterfaceState::Identified) {
      for (std::size_t i = 0; i < enum_rows_.size() && i < names_.size(); ++i) {
        if (enum_rows_[i].index == identified_index_ && (chosen_name_.empty() || names_[i] == chosen_name_)) {
          selected_ = static_cast<int>(i);
          return selected_;
        }
      }
    }
  }
  int pos = selected_interface();
  if (!names_.empty()) {
    pos = choose_interface(names_, pos, chosen_name_);
    if (!chosen_name_.empty() && names_[static_cast<std::size_t>(pos)] != chosen_name_) {
      std::optional<std::uint32_t> route;
      {
        std::lock_guard lock(mu_);  // the link source serves one caller at a time
        route = links_.default_route_index();
      }
      pos = default_interface(enum_rows_, route);
    }
  }
  restart_at(mode, pos);
  return pos;
}

int TrafficMonitor::selected_interface() const {
  std::lock_guard lock(mu_);
  return selected_;
}

int TrafficMonitor::choose_interface(const std::vector<std::string>& names, int stored_position,
                                     const std::string& stored_name) {
  const int count = static_cast<int>(names.size());
  if (count == 0) return 0;
  int pos = (stored_position >= 1 && stored_position <= count - 1) ? stored_position : 0;
  // Two interfaces with the same name: the first one in table order wins.
  const auto first_named = [&](const std::string& name) {
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  pos = first_named(names[static_cast<std::size_t>(pos)]);
  if (!stored_name.empty() && stored_name != names[static_cast<std::size_t>(pos)]) {
    const int named = first_named(stored_name);
    if (named < count) pos = named;
  }
  return pos;
}

int TrafficMonitor::default_interface(const std::vector<platform::LinkRow>& rows,
                                      std::optional<std::uint32_t> route_index) {
  const int count = static_cast<int>(rows.size());
  if (route_index) {
    for (int i = 0; i < count; ++i)
      if (rows[static_cast<std::size_t>(i)].index == *route_index) return i;
  }
  for (int i = 0; i < count; ++i) {
    const platform::LinkRow& r = rows[static_cast<std::size_t>(i)];
    if (r.oper_status == platform::kOperStatusUp && r.type != platform::kIfTypeLoopback) return i;
  }
  return 0;
}

int TrafficMonitor::start_with_stored_interface() {
  enumerate_interfaces();
  const int stored_position = profile_.read_int("Settings", "Interface", 0);
  const std::string stored_name = profile_.read_string("Settings", "InterfaceName", "");
  const int count = static_cast<int>(names_.size());
  int pos;
  if (stored_name.empty() && (stored_position < 1 || stored_position >= count) && count > 0) {
    // Nothing stored (a first start): position 0 is usually the loopback
    // interface, which would show a new user nothing of the network.
    std::optional<std::uint32_t> route;
    {
      std::lock_guard lock(mu_);
      route = links_.default_route_index();
    }
    pos = default_interface(enum_rows_, route);
  } else {
    pos = choose_interface(names_, stored_position, stored_name);
  }
  // A stored name is kept even while no interface carries it.
  chosen_name_ = stored_name;
  if (chosen_name_.empty() && pos < count) chosen_name_ = names_[static_cast<std::size_t>(pos)];
  restart_at(RestartMode::Restart, pos);
  load_gross_totals();
  return pos;
}

void TrafficMonitor::save_interface_choice() {
  const int pos = selected_interface();
  profile_.write_int("Settings", "Interface", pos);
  if (!chosen_name_.empty())
    profile_.write_string("Settings", "InterfaceName", chosen_name_);
  else if (pos >= 0 && static_cast<std::size_t>(pos) < names_.size())
    profile_.write_string("Settings", "InterfaceName", names_[static_cast<std::size_t>(pos)]);
}

}  // namespace tw::traffic
