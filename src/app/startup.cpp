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

namespace tw::app {

std::string settings_problem_text(std::string_view path, settings::SettingsFileProblem problem, Language lang) {
  using settings::SettingsFileProblem;
  std::string reason;
  switch (problem) {
    case SettingsFileProblem::None:
      return {};
    case SettingsFileProblem::NotText:
      reason = pick<std::string>(lang, "it holds NUL bytes, so it is not a text file",
                                 "NUL バイトを含むため、テキストファイルではありません");
      break;
    case SettingsFileProblem::TooBig:
      reason = pick<std::string>(lang, "it is larger than 4 MiB", "4 MiB を超えています");
      break;
    case SettingsFileProblem::NotAFile:
      reason = pick<std::string>(lang, "it is not a regular file", "通常のファイルではありません");
      break;
    case SettingsFileProblem::Unreadable:
      reason = pick<std::string>(lang, "it cannot be read", "読み込めません");
      break;
  }
  const std::string file(path);
  return pick<std::string>(
      lang,
      "The settings file " + file + " cannot be used: " + reason +
          ". Tarnwatch runs with the default settings and saves nothing into it, "
          "the gross traffic totals included. Move the file away or repair it.",
      "設定ファイル " + file + " は使用できません: " + reason +
          "。既定の設定で動作し、総転送量を含めて何も保存しません。"
          "ファイルを移動するか修復してください。");
}

PowerResponse::PowerResponse(Runtime& runtime, traffic::TrafficMonitor& traffic,
                             std::function<bool()> start_successor)
    : runtime_(runtime), traffic_(traffic), start_successor_(std::move(start_successor)) {}

bool PowerResponse::handle(platform::PowerEvents& events) {
  for (const platform::PowerEvent event : events.take_events()) {
    switch (event) {
      case platform::PowerEvent::Suspending:
        if (!restarting_ && !runtime_.is_shut_down()) runtime_.suspend();
        // Always, so that the machine is never held back by us.
        events.suspend_done();
        break;
      case platform::PowerEvent::Resumed:
        if (restarting_ || runtime_.is_shut_down()) break;
        traffic_.restart(traffic::RestartMode::Restart);
        restarting_ = start_successor_ && start_successor_();
        break;
    }
  }
  return restarting_;
}

}  // namespace tw::app
