#include "app/startup.h"

#include <climits>

namespace tw::app {

namespace {

void append_name_part(std::string& out, std::string_view part) {
  for (char c : part) out += (c == '/' || c == '\0') ? '_' : c;
}

}  // namespace

std::string settings_file_name(std::string_view base_name, std::string_view user,
                               std::string_view host, bool second_instance) {
  std::string name;
  append_name_part(name, base_name);
  name += '_';
  append_name_part(name, user);
  name += '@';
  append_name_part(name, host);
  if (second_instance) name += kSecondInstanceSuffix;
  name += ".ini";
  return name;
}

std::optional<long> parse_restart_argument(const std::vector<std::string>& args_after_program) {
  if (args_after_program.size() != 2) return std::nullopt;
  if (!std::string_view(args_after_program[0]).starts_with("/w")) return std::nullopt;
  // Process ids fit an int (pid_t); a bigger number must not wrap into a
  // negative id, so it names no process.
  long pid = 0;
  for (char c : args_after_program[1]) {
    if (c < '0' || c > '9') break;
    pid = pid * 10 + (c - '0');
    if (pid > INT_MAX) return 0;
  }
  return pid;
}

std::vector<std::string> restart_arguments(unsigned long own_pid) {
  return {"/w", std::to_string(own_pid)};
}

Language language_from_locale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang}) {
    if (value && *value) {
      return std::string_view(value).starts_with("ja") ? Language::Japanese : Language::English;
    }
  }
  return Language::English;
}

}  // namespace tw::app
