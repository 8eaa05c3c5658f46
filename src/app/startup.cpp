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

std::string untrusted_data_text(std::string_view folder, std::string_view detail, bool runs_on_defaults,
                                Language lang) {
  const std::string f(folder), d(detail);
  if (lang == Language::Japanese)
    return "データフォルダー " + f + " は使用しません: " + d +
           "。設定・ルール・リストは、あなたが所有し他のユーザーが書き込めないフォルダーとファイル"
           "（書き込めるグループのメンバーがあなただけの場合を含む）からのみ読み込みます。" +
           (runs_on_defaults ? std::string("既定の設定で動作し、このフォルダーには何も書き込みません。")
                             : std::string("起動しません。")) +
           "所有者か権限を直す（chown、chmod go-w）か、別のフォルダーを使ってください。";
  return "The data folder " + f + " is not used: " + d +
         ". Settings, rules and lists are taken only from a folder and files that belong to you and that "
         "no other user may write (a group may write them only when you are its only member). " +
         (runs_on_defaults ? std::string("Tarnwatch runs with the default settings and writes nothing there. ")
                           : std::string("Tarnwatch does not start. ")) +
         "Correct the owner or the permissions (chown, chmod go-w) or use another folder.";
}

std::string totals_not_saved_text(std::string_view path, std::string_view detail, Language lang) {
  const std::string p(path), d(detail);
  if (lang == Language::Japanese)
    return "総転送量を設定ファイル " + p + " に保存できませんでした (" + d + ")。次の保存（60 秒ごとと終了時）で再試行します。";
  return "The gross traffic totals could not be saved in the settings file " + p + " (" + d +
         "). Tarnwatch tries again at the next save (every 60 s and at the end).";
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
