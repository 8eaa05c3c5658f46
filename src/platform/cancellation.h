#pragma once
// How the tools' blocking platform calls (WHOIS, DNS queries, host lookups,
// child processes) are ended early: each takes the std::stop_token of the
// worker that runs it. Once a stop is requested, the call returns at once
// with an error whose errno_value is kCancelledErrno, whatever it was
// waiting for; what it had gathered is dropped.
#include <cerrno>
#include <stop_token>

namespace tw::platform {

inline constexpr int kCancelledErrno = ECANCELED;

}  // namespace tw::platform
