#pragma once
// libsystemd for the programs without Qt (sd-bus for logind's power events,
// sd_notify for the service manager), loaded when first asked for rather
// than at start: with the libraries it brings (libgcrypt, libgpg-error,
// liblzma, libzstd, liblz4, libcap) it is more than a megabyte of a small
// daemon's memory, which a tarnixd that has no system bus to talk to and no
// service manager to tell never needs.
//
// Loaded by the soname of Debian's libsystemd0, found as the dynamic linker
// finds a linked library; never unloaded.
// Threads: any; the first call loads.
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>

#include <string>

namespace tw::platform {

struct SystemdLibrary {
  decltype(&::sd_bus_open_system) bus_open_system = nullptr;
  decltype(&::sd_bus_match_signal_async) bus_match_signal_async = nullptr;
  decltype(&::sd_bus_slot_unref) bus_slot_unref = nullptr;
  decltype(&::sd_bus_flush_close_unref) bus_flush_close_unref = nullptr;
  decltype(&::sd_bus_get_fd) bus_get_fd = nullptr;
  decltype(&::sd_bus_get_events) bus_get_events = nullptr;
  decltype(&::sd_bus_get_timeout) bus_get_timeout = nullptr;
  decltype(&::sd_bus_process) bus_process = nullptr;
  decltype(&::sd_bus_call_method_async) bus_call_method_async = nullptr;
  decltype(&::sd_bus_message_is_method_error) bus_message_is_method_error = nullptr;
  decltype(&::sd_bus_message_read) bus_message_read = nullptr;
  decltype(&::sd_notify) notify = nullptr;
};

// The functions, the library loaded on the first call; null when it cannot
// be loaded, the reason then in `why` (when given).
const SystemdLibrary* systemd_library(std::string* why = nullptr);

}  // namespace tw::platform
