#include "platform/privileged/capabilities.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace tw::platform {
namespace {

struct CapSets {
  std::uint64_t effective = 0, permitted = 0, inheritable = 0;
};

bool read_sets(CapSets& out) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  auto join = [](std::uint32_t lo, std::uint32_t hi) { return std::uint64_t{lo} | (std::uint64_t{hi} << 32); };
  out.effective = join(data[0].effective, data[1].effective);
  out.permitted = join(data[0].permitted, data[1].permitted);
  out.inheritable = join(data[0].inheritable, data[1].inheritable);
  return true;
}

}  // namespace

std::uint64_t effective_capabilities() {
  CapSets sets;
  return read_sets(sets) ? sets.effective : 0;
}

bool has_effective_capability(int cap) { return (effective_capabilities() & capability_bit(cap)) != 0; }

Status keep_only_capabilities(std::uint64_t keep) {
  const char* headline = "Could not drop capabilities.";
  CapSets sets;
  if (!read_sets(sets)) return Error::from_errno(headline, "capget", errno);
  const std::uint64_t effective = sets.effective & keep;
  const std::uint64_t permitted = sets.permitted & keep;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  for (int i = 0; i < 2; ++i) {
    data[i].effective = static_cast<std::uint32_t>(effective >> (32 * i));
    data[i].permitted = static_cast<std::uint32_t>(permitted >> (32 * i));
    data[i].inheritable = 0;
  }
  if (syscall(SYS_capset, &header, data) != 0) return Error::from_errno(headline, "capset", errno);
  // Ambient capabilities cannot outlive the inheritable set, but say so anyway;
  // kernels before 4.3 do not know the call and have none.
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
    return Error::from_errno(headline, "PR_CAP_AMBIENT_CLEAR_ALL", errno);
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Error::from_errno(headline, "PR_SET_NO_NEW_PRIVS", errno);
  return {};
}

}  // namespace tw::platform
