#pragma once
// What tarnixd tells systemd when it runs as a service (Type=notify), through
// sd_notify() of libsystemd: "READY=1" once it samples and takes commands
// (its first status record follows within 200 ms), "STOPPING=1" when its
// orderly end begins. Outside a service (no NOTIFY_SOCKET) the messages go
// nowhere.
//
// Header-only: the programs that include it link libsystemd already (tarnixd
// through tw_power); the platform library itself stays free of it, so the
// desktop program never links it.
//
// Any thread; sd_notify reads NOTIFY_SOCKET at each call.
#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace tw::platform {

// True when systemd started this process as a service or inside one: it sets
// NOTIFY_SOCKET for Type=notify and INVOCATION_ID for every unit. A process
// started from here would stay in the service's control group, and systemd
// stops the whole group when the main process ends, so a restart by a
// successor cannot work there.
inline bool under_service_manager() {
  for (const char* name : {"NOTIFY_SOCKET", "INVOCATION_ID"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// Sends one or more "KEY=VALUE" lines. A failure is not the program's
// concern: systemd then reports the start as timed out, which says enough.
inline void notify_service_manager(const char* state) { (void)sd_notify(0, state); }

}  // namespace tw::platform
