#include "platform/linux/systemd_library.h"

#include <dlfcn.h>

#include <type_traits>

namespace tw::platform {
namespace {

constexpr const char* kSystemdSoname = "libsystemd.so.0";

struct Loaded {
  SystemdLibrary functions;
  std::string error;  // "" when loaded
};

Loaded load() {
  Loaded l;
  void* handle = ::dlopen(kSystemdSoname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    l.error = why ? why : kSystemdSoname;
    return l;
  }
  bool all = true;
  const auto take = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, name));
    all = all && fn != nullptr;
  };
  SystemdLibrary& f = l.functions;
  take(f.bus_open_system, "sd_bus_open_system");
  take(f.bus_match_signal_async, "sd_bus_match_signal_async");
  take(f.bus_slot_unref, "sd_bus_slot_unref");
  take(f.bus_flush_close_unref, "sd_bus_flush_close_unref");
  take(f.bus_get_fd, "sd_bus_get_fd");
  take(f.bus_get_events, "sd_bus_get_events");
  take(f.bus_get_timeout, "sd_bus_get_timeout");
  take(f.bus_process, "sd_bus_process");
  take(f.bus_call_method_async, "sd_bus_call_method_async");
  take(f.bus_message_is_method_error, "sd_bus_message_is_method_error");
  take(f.bus_message_read, "sd_bus_message_read");
  take(f.notify, "sd_notify");
  if (!all) {
    ::dlclose(handle);
    l = Loaded{};
    l.error = std::string(kSystemdSoname) + " lacks a function it should have";
  }
  return l;
}

}  // namespace

const SystemdLibrary* systemd_library(std::string* why) {
  static const Loaded loaded = load();
  if (!loaded.error.empty()) {
    if (why) *why = loaded.error;
    return nullptr;
  }
  return &loaded.functions;
}

}  // namespace tw::platform
