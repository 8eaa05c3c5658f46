#pragma once
// What tarnixd tells systemd when it runs as a service (Type=notify), through
// sd_notify() of libsystemd (loaded only when there is a NOTIFY_SOCKET): "READY=1" once it samples and takes commands
// (its first status record follows within 200 ms), "STOPPING=1" when its
// orderly end begins. Outside a service (no NOTIFY_SOCKET) the messages go
// nowhere.
//
// For the programs that link tw_power (tarnixd); the platform library itself
// stays free of libsystemd, so the desktop program never loads it.
//
// Any thread; sd_notify reads NOTIFY_SOCKET at each call.
#include <cstdlib>

#include "platform/linux/systemd_library.h"

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
// Without NOTIFY_SOCKET sd_notify() sends nothing: libsystemd is not loaded
// for it then.
inline void notify_service_manager(const char* state) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || socket[0] == '\0') return;
  if (const SystemdLibrary* sd = systemd_library()) (void)sd->notify(0, state);
}

}  // namespace tw::platform
