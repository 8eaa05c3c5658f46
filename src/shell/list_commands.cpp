#include "shell/list_commands.h"

namespace tw::shell {
namespace {

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string tool_target(std::string_view host, std::string_view address) {
  const std::string_view before = trimmed(host.substr(0, host.find('(')));
  return std::string(before.empty() ? trimmed(address) : before);
}

}  // namespace tw::shell
