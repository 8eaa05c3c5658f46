#include "sessions/connection_table.h"

#include <algorithm>
#include <array>

#include "base/ip_address.h"
#include "base/text_helpers.h"
#include "logging/template.h"

namespace tw::sessions {

namespace {

struct StateText {
  std::string_view en, ja;
};
constexpr std::array<StateText, 13> kStateNames = {{
    {"", ""},
    {"CLOSED", "CLOSED"},
    {"LISTEN", "LISTEN"},
    {"Waiting", "接続待ち"},
    {"Waiting", "接続待ち"},
    {"Connecting", "接続中"},
    {"FIN WAIT1", "FIN WAIT1"},
    {"FIN WAIT2", "FIN WAIT2"},
    {"CLOSE WAIT", "CLOSE WAIT"},
    {"CLOSING", "CLOSING"},
    {"LAST ACK", "LAST ACK"},
    {"TIME WAIT", "TIME WAIT"},
    {"DELETE TCB", "DELETE TCB"},
}};

constexpr std::array<bool, 12> kShown = {true, true, true, true, true, false, false, false, false, false, false, true};

bool unspecified(const net::IpAddress& a) {
  for (std::size_t i = 0; i < a.length(); ++i)
    if (a.bytes[i] != 0) return false;
  return true;
}

// An address as the lists show it: a dual-stack socket's IPv4-mapped peer as
// the IPv4 address it is.
net::IpAddress shown_address(const net::IpAddress& a) { return net::unmapped(a); }

}  // namespace

std::string_view state_name(int state, Language lang) {
  if (state < 0 || state >= static_cast<int>(kStateNames.size())) return {};
  return pick(lang, kStateNames[static_cast<std::size_t>(state)].en, kStateNames[static_cast<std::size_t>(state)].ja);
}

bool state_shown(int state) {
  const int i = state <= 0 ? 0 : state - 1;
  return i < static_cast<int>(kShown.size()) && kShown[static_cast<std::size_t>(i)];
}

std::string ProcessNameCache::name_for(int pid) {
  std::lock_guard lock(mutex_);
  if (const auto it = names_.find(pid); it != names_.end()) return it->second;
  names_.clear();
  for (auto& p : processes_.list_processes()) {
    // A process chooses its own name: no controls into the list, the logs
    // and the packet list, whatever table the name came from.
    std::string name = detail::without_control_chars(p.name);
    logging::truncate_utf8(name, kMaxProcessChars);
    names_.try_emplace(p.pid, std::move(name));
  }
  const auto it = names_.find(pid);
  return it == names_.end() ? std::string() : it->second;
}

void ProcessNameCache::empty() {
  std::lock_guard lock(mutex_);
  names_.clear();
}

std::size_t ProcessNameCache::size() const {
  std::lock_guard lock(mutex_);
  return names_.size();
}

std::string process_label(std::string_view name, int pid) {
  std::string label(name);
  label += '(' + std::to_string(pid) + ')';
  logging::truncate_utf8(label, kMaxProcessChars);
  return label;
}

int ConnectionTable::owner(const platform::SocketRow& row) { return processes_.owner_of_socket(row.inode); }

std::size_t ConnectionEndsHash::operator()(const ConnectionEnds& e) const noexcept {
  // FNV-1a over the bytes of both ends.
  std::uint64_t h = 14695981039346656037ull;
  const auto mix = [&h](std::uint8_t b) { h = (h ^ b) * 1099511628211ull; };
  for (const net::IpAddress* a : {&e.local, &e.remote}) {
    mix(a->family);
    for (std::size_t i = 0; i < a->length(); ++i) mix(a->bytes[i]);
  }
  for (const std::uint16_t port : {e.local_port, e.remote_port}) {
    mix(static_cast<std::uint8_t>(port >> 8));
    mix(static_cast<std::uint8_t>(port));
  }
  return static_cast<std::size_t>(h);
}

std::size_t ConnectionTable::refresh(const std::vector<platform::SocketRow>& tcp,
                                     const std::vector<platform::SocketRow>& udp, std::uint32_t now,
                                     const HostText& host_text) {
  // First-seen times of the last refresh; the first record of a connection wins.
  std::unordered_map<ConnectionEnds, std::uint32_t, ConnectionEndsHash> seen;
  seen.reserve(records_.size());
  for (const auto& r : records_) seen.try_emplace(r.ends, r.first_seen);
  records_.clear();

  // The owners of every socket this refresh asks about, looked up at once:
  // a /proc walk is costly, so all the misses share one.
  std::vector<std::uint64_t> inodes, shown;
  inodes.reserve(tcp.size() + std::min(udp.size(), shared::kMaxFlowKeys));
  for (const auto& row : tcp) {
    if (unspecified(shown_address(platform::local_ip(row))) || unspecified(shown_address(platform::remote_ip(row))))
      continue;
    inodes.push_back(row.inode);
    if (state_shown(row.state) && row.inode != 0) shown.push_back(row.inode);
  }
  for (std::size_t i = 0; i < udp.size() && i < shared::kMaxFlowKeys; ++i) inodes.push_back(udp[i].inode);
  processes_.prefetch_owners(inodes);
  // A kept owner may have handed its socket on without any socket being new
  // (a program that forked and ended): the owners of the rows are checked,
  // at most once a second.
  if (!owners_checked_ || now - last_owner_check_ >= kOwnerCheckMs) {
    processes_.verify_owners(shown);
    owners_checked_ = true;
    last_owner_check_ = now;
  }

  std::vector<shared::FlowKey> keys;
  keys.reserve(shared::kMaxFlowKeys);
  std::pair<net::IpAddress, std::string> last_local, last_remote;
  const auto text_of = [](const net::IpAddress& a, std::pair<net::IpAddress, std::string>& last) -> const std::string& {
    if (last.second.empty() || last.first != a) last = {a, net::to_text(a)};
    return last.second;
  };
  for (const auto& row : tcp) {
    const net::IpAddress local_ip = shown_address(platform::local_ip(row));
    const net::IpAddress remote_ip = shown_address(platform::remote_ip(row));
    // Listening sockets have no remote side ("0.0.0.0", "::"); neither do
    // sockets bound to nothing yet.
    if (unspecified(local_ip) || unspecified(remote_ip)) continue;
    // Most connections share their local address, and many their remote
    // one, with the row before: the text of the last address is kept.
    const std::string& local = text_of(local_ip, last_local);
    const std::string& remote = text_of(remote_ip, last_remote);
    const unsigned remote_port = remote_ip.is_v4() && remote_ip.bytes[0] == 0 ? 0u : row.remote_port;
    const int pid = owner(row);
    if (keys.size() < shared::kMaxFlowKeys)
      keys.push_back({shared::tcp_flow_key(local, row.local_port, remote, remote_port), pid});
    if (!state_shown(row.state)) continue;

    SessionRecord rec;
    rec.local_address = local;
    rec.remote_address = remote;
    rec.local_host = host_text ? host_text(local) : local;
    rec.remote_host = host_text ? host_text(remote) : remote;
    logging::truncate_utf8(rec.local_host, kMaxHostChars);
    logging::truncate_utf8(rec.remote_host, kMaxHostChars);
    rec.local_port = row.local_port;
    rec.remote_port = remote_port;
    rec.state = row.state;
    if (pid >= 0) rec.process = process_label(names_.name_for(pid), pid);
    rec.ends = {local_ip, remote_ip, static_cast<std::uint16_t>(rec.local_port), static_cast<std::uint16_t>(remote_port)};
    const auto it = seen.find(rec.ends);
    rec.first_seen = it != seen.end() && it->second != 0 ? it->second : now;
    rec.id = platform::socket_id(row);
    rec.ipv6 = remote_ip.is_v6();
    records_.push_back(std::move(rec));
  }
  for (const auto& row : udp) {
    if (keys.size() >= shared::kMaxFlowKeys) break;
    keys.push_back({shared::udp_flow_key(net::to_text(shown_address(platform::local_ip(row))), row.local_port),
                    owner(row)});
  }
  keys_.replace(std::move(keys));
  return records_.size();
}

}  // namespace tw::sessions
