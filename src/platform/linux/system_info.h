#pragma once
// Who and where this process is: user and host names for the settings file
// name, the data folder that holds the files "beside the program", the private
// runtime folder for the lock file and the command socket.
//
// Every function may be called from any thread; none of them caches.
#include <string>
#include <string_view>

#include "base/error.h"

namespace tw::platform {

// Name of the effective user (getpwuid_r), empty when it cannot be found.
std::string user_name();

// The host name (gethostname), empty on failure.
std::string host_name();

// Absolute path of the running executable (/proc/self/exe), empty on failure.
std::string executable_path();

// Root's data folder when the program's own folder is not used.
inline constexpr const char* kRootDataFolder = "/var/lib/tarnwatch/";

// The folder for the settings, rule, history and snapshot files, ending in
// "/": the executable's own folder when it and the program file belong to the
// effective user, the user may write there and it is no folder of installed
// programs (a portable copy, the build tree); otherwise /var/lib/tarnwatch/
// for root, and $XDG_CONFIG_HOME/tarnwatch/ or ~/.config/tarnwatch/ for
// everyone else. So an installed tarnixd run as root never writes beside
// itself into PREFIX/bin. The folder is not created here; the file store
// creates it on the first write. Empty when none can be found.
std::string data_folder();

// The choice behind data_folder(), on explicit inputs. `exe_path` is the
// executable's absolute path, `exe_folder_usable` whether its folder passed
// the checks above, `root` whether the effective user is root;
// `xdg_config_home` and `home` may be null. A relative XDG_CONFIG_HOME is
// ignored, as the XDG base-directory rules say.
std::string choose_data_folder(std::string_view exe_path, bool exe_folder_usable, bool root,
                               const char* xdg_config_home, const char* home);

// A folder the system's installed programs live in (/usr/bin, /usr/local/bin,
// the other folders of the standard search path, and PREFIX/bin of this
// build's installation), with or without its trailing "/".
bool is_installed_programs_folder(std::string_view folder);

// A folder only this user can enter, ending in "/", for the instance lock and
// the command socket: $XDG_RUNTIME_DIR when it is set and safe, otherwise
// /tmp/tarnwatch-UID/ (created 0700). A folder that exists but is a symlink,
// belongs to someone else or is open to group or others is never used, so
// another local user cannot plant a socket or lock file for us to use; when
// /tmp/tarnwatch-UID is taken that way, a private folder of our own is used
// instead: the first (by name) /tmp/tarnwatch-UID-XXXXXX that is a private
// folder of this user, made with mkdtemp() when there is none. Every instance
// and tarnixctl take the same one by that rule (and an existing one is kept
// even when /tmp/tarnwatch-UID is missing again: an instance may run there).
// `notice`, when given, is set to a line saying where and why when such a
// folder is used, and cleared otherwise. An error says why no safe folder is
// available.
Result<std::string> runtime_folder(std::string* notice = nullptr);

// The choice behind runtime_folder() with the value of XDG_RUNTIME_DIR (may be
// null) and the shared temporary folder ("/tmp") given.
Result<std::string> choose_runtime_folder(const char* xdg_runtime_dir, const std::string& tmp,
                                          std::string* notice = nullptr);

// Makes `path` (no trailing "/") a private folder: creates it with mode 0700
// when missing, and returns it with a trailing "/" when it is a real folder
// (not a symlink), owned by this user and closed to group and others. An
// error otherwise (its detail says which); an unsafe folder is refused, never
// repaired.
Result<std::string> private_folder(const std::string& path);

}  // namespace tw::platform
