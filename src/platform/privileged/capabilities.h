#pragma once
// The calling thread's Linux capabilities, read and narrowed with the raw
// capget/capset calls (the project links no libcap).
//
// Capabilities belong to a thread. The programs call these before they start
// any thread, so the whole process ends up with the same set.
#include <cstdint>

#include "base/error.h"

namespace tw::platform {

// Bit N stands for capability N (CAP_NET_ADMIN is 12, CAP_NET_RAW 13).
inline constexpr std::uint64_t capability_bit(int cap) { return std::uint64_t{1} << cap; }

// The effective set; 0 when it cannot be read.
std::uint64_t effective_capabilities();
bool has_effective_capability(int cap);

// Keeps only the capabilities in `keep` in the effective and permitted sets,
// empties the inheritable and ambient sets, and forbids gaining any back
// through execve (no_new_privs). What was dropped cannot be regained.
Status keep_only_capabilities(std::uint64_t keep);

}  // namespace tw::platform
