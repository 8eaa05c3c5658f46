#include "sessions/netstat.h"

#include "base/text_helpers.h"

namespace tw::sessions {

namespace {

struct StateInfo {
  std::string_view name, en, ja;
};
constexpr std::array<StateInfo, 12> kStates = {{
    {"CLOSED", "Unused condition", "未使用の状態"},
    {"LISTEN", "Standby status", "待ち受け状態"},
    {"SYN SENT", "State waiting for a response after a request to start communication", "通信開始を要求して応答を待っている状態"},
    {"SYN RECEIVED", "State immediately after receiving the SYN request from the client", "クライアントからSYN要求を受けた直後の状態"},
    {"ESTABLISHED", "TCP connection is established the state of communication", "TCP接続が確立して通信している状態"},
    {"FIN WAIT1", "FIN yourself from the sending state", "自分からFINを送信した状態"},
    {"FIN WAIT2", "FIN ACK for receiving state", "FINに対するACKを受信した状態"},
    {"CLOSE WAIT", "FIN state receives from the other side", "相手からFINを受信した状態"},
    {"CLOSING", "FIN ACK from the other party to the receiving state", "相手からのFINに対するACKを待っている状態"},
    {"LAST ACK", "FIN sent waiting for ACK", "FINを送信してACKを待っている状態"},
    {"TIME WAIT", "Wait for the connection state", "接続の終了を待っている状態"},
    {"DELETE TCB", "Transmission control block state destroyed", "転送制御ブロックが破棄された状態"},
}};

std::string s(std::string_view v) { return std::string(v); }

}  // namespace

std::string_view netstat_state_name(int state) {
  return state >= 1 && state <= 12 ? kStates[static_cast<std::size_t>(state - 1)].name : std::string_view();
}

std::string_view netstat_state_description(int state, Language lang) {
  if (state < 1 || state > 12) return {};
  const auto& i = kStates[static_cast<std::size_t>(state - 1)];
  return pick(lang, i.en, i.ja);
}

NetstatFilter parse_netstat_filter(std::string_view text) {
  NetstatFilter f = kDefaultNetstatFilter;
  std::size_t i = 0;
  while (i < f.size() && !text.empty()) {
    const auto colon = text.find(':');
    const std::string_view field = text.substr(0, colon);
    int v = 0;
    std::size_t k = 0;
    bool neg = false;
    if (k < field.size() && (field[k] == '-' || field[k] == '+')) neg = field[k++] == '-';
    const std::size_t digits_at = k;
    for (; k < field.size() && field[k] >= '0' && field[k] <= '9' && v < 100000; ++k) v = v * 10 + (field[k] - '0');
    if (k == digits_at) break;  // not a number: this and the rest keep their defaults
    f[i++] = neg ? -v : v;
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  return f;
}

std::string format_netstat_filter(const NetstatFilter& f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) out += (i ? ":" : "") + std::to_string(f[i]);
  return out;
}

NetstatFilter load_netstat_filter(const settings::Profile& profile) {
  return parse_netstat_filter(profile.read_string("Netstat", "Filter", format_netstat_filter(kDefaultNetstatFilter)));
}

void save_netstat_filter(settings::Profile& profile, const NetstatFilter& f) {
  profile.write_string("Netstat", "Filter", format_netstat_filter(f));
}

bool netstat_listed(const NetstatFilter& f, int state) {
  const int i = state - 1 < 0 ? 0 : state - 1;
  return i < static_cast<int>(f.size()) && f[static_cast<std::size_t>(i)] != 0;
}

std::string netstat_tcp_line(std::string_view local, unsigned local_port, std::string_view local_host,
                             std::string_view remote, unsigned remote_port, std::string_view remote_host, int state,
                             std::string_view process, int pid) {
  std::string line = detail::sformat("TCP %15s:%5d (%s) -> %15s:%5d (%s) -> %s", s(local).c_str(),
                                 static_cast<int>(local_port), s(local_host).c_str(), s(remote).c_str(),
                                 static_cast<int>(remote_port), s(remote_host).c_str(), s(netstat_state_name(state)).c_str());
  if (pid >= 0) line += detail::sformat(" -> %s(%d)", s(process).c_str(), pid);
  return line;
}

std::string netstat_udp_line(std::string_view local, unsigned local_port, std::string_view host,
                             std::string_view service, std::string_view process, int pid) {
  std::string line = detail::sformat("UDP %15s:%5d (%s: %s)", s(local).c_str(), static_cast<int>(local_port),
                                 s(host).c_str(), s(service).c_str());
  if (pid >= 0) line += detail::sformat(" -> %s(%d)", s(process).c_str(), pid);
  return line;
}

std::string NetstatRun::start() {
  if (state_.load() != kIdle) return {};
  lines_.clear();
  ticks_ = 0;
  state_.store(kStarting);
  return pick(lang_, std::string("Getting information "), std::string("情報取得中 "));
}

std::string NetstatRun::stop() {
  int expected = kRunning;
  // Only a running worker is asked to stop; one that is still starting
  // finishes its listing, one that has finished is shown at the next tick.
  state_.compare_exchange_strong(expected, kStopRequested);
  return pick(lang_, std::string("Aborted."), std::string("中止しました."));
}

void NetstatRun::run_worker(platform::SocketTable& sockets, platform::ProcessTable& processes,
                            ProcessNameCache& names, shared::HostNameCache& hosts,
                            platform::ReverseResolver& services, const NetstatFilter& filter) {
  int expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kRunning)) {
    state_.store(kFinished);
    return;
  }
  auto owner_name = [&](int pid) { return pid >= 0 ? names.name_for(pid) : std::string(); };
  auto tcp = sockets.read(platform::SocketProtocol::Tcp);
  auto udp = sockets.read(platform::SocketProtocol::Udp);
  auto listed = [&](const platform::SocketRow& row) {
    return row.local_address != 0 && row.remote_address != 0 && netstat_listed(filter, row.state);
  };
  // The owners of every line, asked for at once: one walk of /proc (and one
  // question to the helper for other users' sockets) serves the listing,
  // where asking socket by socket would leave all but the first miss of a
  // walk's interval unnamed.
  std::vector<std::uint64_t> inodes;
  if (tcp)
    for (const auto& row : *tcp)
      if (listed(row)) inodes.push_back(row.inode);
  if (udp)
    for (const auto& row : *udp) inodes.push_back(row.inode);
  processes.prefetch_owners(inodes);
  if (tcp) {
    for (const auto& row : *tcp) {
      if (!keep_going()) break;
      if (!listed(row)) continue;
      const std::string local = shared::address_text(row.local_address);
      const std::string remote = shared::address_text(row.remote_address);
      const auto* octets = reinterpret_cast<const unsigned char*>(&row.remote_address);
      const unsigned rport = octets[0] == 0 ? 0u : row.remote_port;
      const int pid = processes.owner_of_socket(row.inode);
      lines_.push_back(netstat_tcp_line(local, row.local_port, hosts.resolve_now(local), remote, rport,
                                        hosts.resolve_now(remote), row.state, owner_name(pid), pid));
    }
  }
  if (udp) {
    for (const auto& row : *udp) {
      if (!keep_going()) break;
      const std::string local = shared::address_text(row.local_address);
      const std::string service = services.udp_service_name(row.local_port).value_or(std::to_string(row.local_port));
      const int pid = processes.owner_of_socket(row.inode);
      lines_.push_back(netstat_udp_line(local, row.local_port, hosts.resolve_now(local), service, owner_name(pid), pid));
    }
  }
  state_.store(kFinished);
}

NetstatRun::TickOutput NetstatRun::tick() {
  TickOutput out;
  const int st = state_.load();
  if (st == kRunning) {
    if (++ticks_ % 2 == 0) out.append = pick(lang_, std::string("*"), std::string("■"));
  } else if (st == kFinished) {
    for (const auto& l : lines_) out.replace += l + "\r\n";
    if (lines_.empty()) out.replace = pick(lang_, std::string("No data."), std::string("データはありません."));
    lines_.clear();
    out.finished = true;
    ticks_ = 0;
    state_.store(kIdle);
  }
  return out;
}

}  // namespace tw::sessions
