#include "shared/flow_keys.h"

namespace tw::shared {

std::string address_text(std::uint32_t address_be) {
  // Network order keeps the first octet in the lowest-addressed byte.
  const auto* b = reinterpret_cast<const unsigned char*>(&address_be);
  std::string out;
  out.reserve(15);
  for (int i = 0; i < 4; ++i) {
    if (i) out += '.';
    out += std::to_string(b[i]);
  }
  return out;
}

namespace {
// "ADDRESS:PORT"; an IPv6 address in brackets, or the colons of its text
// would run into the port's and two keys could read alike.
std::string joined(std::string_view address, unsigned port) {
  if (address.find(':') == std::string_view::npos) return std::string(address) + ':' + std::to_string(port);
  return "[" + std::string(address) + "]:" + std::to_string(port);
}
}  // namespace

std::string tcp_flow_key(std::string_view local, unsigned local_port, std::string_view remote,
                         unsigned remote_port) {
  std::string key = "TCP_";
  key.append(joined(local, local_port)).append("-TCP_");
  key.append(joined(remote, remote_port)).append("$");
  if (key.size() > kMaxFlowKeyChars) key.resize(kMaxFlowKeyChars);
  return key;
}

std::string udp_flow_key(std::string_view local, unsigned local_port) {
  std::string key = "UDP_";
  key.append(joined(local, local_port)).append("$");
  if (key.size() > kMaxFlowKeyChars) key.resize(kMaxFlowKeyChars);
  return key;
}

void FlowKeyTable::replace(std::vector<FlowKey> keys) {
  if (keys.size() > kMaxFlowKeys) keys.resize(kMaxFlowKeys);
  Map owners, remotes;
  owners.reserve(keys.size());
  for (auto& k : keys) {
    // A key holds "-TCP_" once, where its remote part starts.
    if (const auto at = k.key.find("-TCP_"); at != std::string::npos)
      remotes.try_emplace(k.key.substr(at), k.pid);
    owners.try_emplace(std::move(k.key), k.pid);
  }
  std::lock_guard lock(mutex_);
  owners_.swap(owners);
  remote_owners_.swap(remotes);
  count_ = keys.size();
}

std::optional<int> FlowKeyTable::owner(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto it = owners_.find(key);
  if (it == owners_.end()) return std::nullopt;
  return it->second;
}

std::optional<int> FlowKeyTable::owner_by_remote(std::string_view remote) const {
  std::lock_guard lock(mutex_);
  const auto it = remote_owners_.find(remote);
  if (it == remote_owners_.end()) return std::nullopt;
  return it->second;
}

std::size_t FlowKeyTable::size() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace tw::shared
