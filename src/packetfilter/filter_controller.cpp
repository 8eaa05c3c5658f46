#include "packetfilter/filter_controller.h"

#include <algorithm>

#include "packetfilter/nft_ruleset.h"

namespace tw::packetfilter {

std::string_view message_text(FilterMessage m, Language lang) {
  switch (m) {
    case FilterMessage::NoAdapterInfo:
      return pick(lang, std::string_view("Failed to get adapter information."),
                  std::string_view("アダプタ情報の取得に失敗しました."));
    case FilterMessage::NoRules:
      return pick(lang, std::string_view("Non packetfilter rules."),
                  std::string_view("パケットフィルタリングルールがありません."));
  }
  return {};
}

std::string_view message_caption(Language lang) {
  return pick(lang, std::string_view("Packet Filter"), std::string_view("パケットフィルター"));
}

std::string_view edit_failed_text(Language lang) {
  return pick(lang, std::string_view("Configuration File is Not Found."),
              std::string_view("設定ファイルが開けませんでした."));
}

std::vector<std::uint32_t> local_addresses(const std::vector<platform::AdapterInfo>& adapters) {
  std::vector<std::uint32_t> out;
  for (const auto& a : adapters)
    for (const auto& e : a.addresses) out.push_back(parse_local_address(e.address));
  return out;
}

FilterController::FilterController(FilterControllerDeps deps, FilterControllerConfig config)
    : deps_(deps), config_(std::move(config)) {}

void FilterController::note(const std::string& text) const {
  if (config_.note) config_.note(text);
}

void FilterController::warn(const std::string& text) const {
  if (warn_) warn_(text);
}

void FilterController::message(FilterMessage m) {
  if (!quiet_ && config_.show_message) config_.show_message(message_text(m, config_.lang));
}

void FilterController::changed() {
  if (listener_) listener_();
}

void FilterController::rules_changed() { rules_ = rules_from_grid(file_.grid()); }

void FilterController::restart_if_on() {
  if (filtering_) restart();
}

// ---------------------------------------------------------------------------
// The rule file

namespace {

std::string read_error_text(const std::string& path, const Error& e, Language lang) {
  return pick<std::string>(lang, "The rule file cannot be read, so it is left as it is and none of its rules is used: ",
                           "ルールファイルを読めないため、変更せず、そのルールも使いません: ") +
         path + " (" + e.detail + ")";
}

}  // namespace

std::string FilterController::refused_text() const {
  return pick<std::string>(config_.lang, "the rule file cannot be read, so the rules cannot be changed: ",
                           "ルールファイルを読めないため、ルールを変更できません: ") +
         config_.rule_file_path;
}

void FilterController::adopt(const Result<std::string>& read) {
  read_error_.reset();
  write_error_.reset();
  notice_.clear();
  if (read) {
    file_ = RuleFile(*read);
  } else {
    file_ = RuleFile();
    if (read.error().errno_value != platform::kFileMissingErrno) read_error_ = read.error();
  }
  rules_changed();
  if (read_error_) {
    warn(read_error_text(config_.rule_file_path, *read_error_, Language::English));
  } else {
    note("packet filter: " + std::to_string(file_.grid().size()) + " rules read from " + config_.rule_file_path);
    if (!file_.problems().empty()) warn(file_report(Language::English));
  }
}

Status FilterController::reload() {
  const Result<std::string> read = deps_.files.read(config_.rule_file_path, kMaxRuleFileBytes);
  adopt(read);
  changed();
  if (read_error_) return *read_error_;
  return {};
}

void FilterController::refresh() {
  if (unsaved()) return;
  const Result<std::string> read = deps_.files.read(config_.rule_file_path, kMaxRuleFileBytes);
  if (!read && read.error().errno_value != platform::kFileMissingErrno && !read_error_) {
    // It was read before and cannot be now (a passing failure, or its
    // permissions changed): the rules as last read stay in use.
    note("cannot read the packet filter rules again, using them as last read: " + read.error().message());
    return;
  }
  const std::optional<std::string> now = read ? std::optional<std::string>(*read) : std::nullopt;
  if (!read_error_ && now == file_.base()) return;
  adopt(read);
  changed();
}

Status FilterController::write_file() {
  const std::string& path = config_.rule_file_path;
  const Result<std::string> read = deps_.files.read(path, kMaxRuleFileBytes);
  if (!read && read.error().errno_value != platform::kFileMissingErrno) {
    // What is on disk now cannot be known, so nothing may replace it.
    write_error_ = read.error();
    warn("cannot read the packet filter rules before writing them, so they are not written: " +
         read.error().message() + "; the changes are kept in the program and written with the next change");
    return read.status();
  }
  const std::optional<std::string> now = read ? std::optional<std::string>(*read) : std::nullopt;
  std::size_t given_up = 0;
  std::string text;
  if (now == file_.base()) {
    text = file_.text();
  } else {
    note("the packet filter rules changed on disk; the change is written onto the file as it is now");
    text = file_.merged_onto(now, &given_up);
  }
  Status s;
  if (!text.empty()) s = deps_.files.replace(path, text);
  else if (now) s = deps_.files.remove(path);  // an empty grid, nothing else in the file: no file
  if (!s) {
    write_error_ = s.error();
    warn("cannot write the packet filter rules: " + s.error().message() +
         "; the changes are kept in the program and written with the next change");
    return s;
  }
  write_error_.reset();
  file_ = text.empty() ? RuleFile() : RuleFile(text);
  if (given_up > 0) {
    notice_ = pick<std::string>(config_.lang, std::to_string(given_up) +
                                                  " change(s) could not be written: their rules had been changed in "
                                                  "the file meanwhile, which keeps its own text for them",
                                std::to_string(given_up) +
                                    " 件の変更は書き込めませんでした: そのルールはファイル側で変更されていたため、"
                                    "ファイルの内容を残しました");
    warn(notice_);
  }
  return {};
}

Status FilterController::write_pending() {
  if (read_error_) return *read_error_;
  if (!unsaved()) return {};
  Status s = write_file();
  rules_changed();
  changed();
  return s;
}

bool FilterController::edit(const std::function<bool(RuleFile&)>& change) {
  if (read_error_) {
    notice_ = refused_text();
    warn(notice_);
    changed();
    return false;
  }
  if (!change(file_)) return false;
  notice_.clear();
  // A failure is reported by write_file and shown with the file's report;
  // the edit stays in the grid and goes to the file with the next change.
  (void)write_file();
  rules_changed();
  changed();
  restart_if_on();
  return true;
}

std::string FilterController::file_report(Language lang) const {
  std::string out;
  auto line = [&out](const std::string& text) {
    if (!out.empty()) out += '\n';
    out += text;
  };
  if (read_error_) line(read_error_text(config_.rule_file_path, *read_error_, lang));
  if (write_error_)
    line(pick<std::string>(lang, "The rule file cannot be written; the changes are kept and written with the next change: ",
                           "ルールファイルに書き込めません。変更は保持され、次の変更時に書き込まれます: ") +
         write_error_->message());
  std::size_t unreadable = 0, beyond = 0, first_beyond = 0;
  std::string listed;
  for (const LineProblem& p : file_.problems()) {
    if (p.beyond_table) {
      if (beyond++ == 0) first_beyond = p.line;
      continue;
    }
    // The first few are named; the count says how many there are.
    if (unreadable++ < 3)
      listed += pick<std::string>(lang, "\n  line ", "\n  ") + std::to_string(p.line) +
                pick<std::string>(lang, ": ", " 行目: ") + problem_text(p.problem, lang);
  }
  if (unreadable > 0)
    line(pick<std::string>(lang, std::to_string(unreadable) + " row(s) of the rule file are no rules; they are kept in "
                                                             "the file as they are and not used:",
                           "ルールファイルの " + std::to_string(unreadable) +
                               " 行はルールとして読めません。ファイルにそのまま残し、使いません:") +
         listed);
  if (beyond > 0)
    line(pick<std::string>(lang, std::to_string(beyond) + " rule(s) from line " + std::to_string(first_beyond) +
                                     " on are beyond the table's " + std::to_string(kMaxRules) +
                                     " rules; they are kept in the file and not used",
                           std::to_string(first_beyond) + " 行目以降の " + std::to_string(beyond) + " 件のルールは上限の " +
                               std::to_string(kMaxRules) + " 件を超えるため、ファイルに残し、使いません"));
  if (!notice_.empty()) line(notice_);
  return out;
}

// ---------------------------------------------------------------------------
// Grid editing

std::optional<RowProblem> FilterController::cell_problem(std::size_t row, int column, const std::string& text) const {
  if (row >= grid().size() || column < 0 || column >= kColumnCount) return std::nullopt;
  GridRow cells = grid()[row];
  cells[static_cast<std::size_t>(column)] = text;
  return row_problem(cells);
}

bool FilterController::set_cell(std::size_t row, int column, std::string text) {
  if (row >= grid().size() || column < 0 || column >= kColumnCount) return false;
  GridRow cells = grid()[row];
  if (cells[static_cast<std::size_t>(column)] == text) return true;
  cells[static_cast<std::size_t>(column)] = std::move(text);
  // The editors commit only complete texts; anything else never reaches
  // the file as a rule.
  if (row_problem(cells)) return false;
  return edit([&](RuleFile& f) { return f.set_row(row, cells); });
}

std::optional<std::size_t> FilterController::insert_default_row(std::optional<std::size_t> before) {
  if (grid().size() >= kMaxRules) return std::nullopt;
  const std::size_t at = std::min(before.value_or(grid().size()), grid().size());
  if (!edit([&](RuleFile& f) { return f.insert_row(at, default_row()); })) return std::nullopt;
  return std::min(at, grid().empty() ? 0 : grid().size() - 1);
}

void FilterController::delete_row(std::size_t row) {
  if (row >= grid().size()) return;
  edit([&](RuleFile& f) { return f.erase_row(row); });
}

bool FilterController::move_row(std::size_t row, bool up) {
  if (row >= grid().size() || (up && row == 0) || (!up && row + 1 >= grid().size())) return false;
  return edit([&](RuleFile& f) { return f.swap_rows(row, up ? row - 1 : row + 1); });
}

void FilterController::set_all_actions(bool drop) {
  if (grid().empty()) return;
  edit([&](RuleFile& f) {
    for (std::size_t i = 0; i < f.grid().size(); ++i) {
      GridRow cells = f.grid()[i];
      cells[kAction] = std::string(drop ? kDrop : kForward);
      f.set_row(i, cells);
    }
    return true;
  });
}

Result<std::size_t> FilterController::add_command(std::string_view text) {
  auto refuse = [this](std::string why) -> Error {
    notice_ = pick<std::string>(config_.lang, "tarnix.packetfilter /add: was refused: ",
                                "tarnix.packetfilter /add: を受け付けませんでした: ") +
              why;
    warn(notice_);
    changed();
    return Error{std::move(why), notice_, EINVAL};
  };
  const AddCommand command = parse_add_command(text);
  if (!command) return refuse(problem_text(command.problem, config_.lang));
  if (read_error_) return refuse(refused_text());
  // The row goes to the end of the file as it is on disk now.
  refresh();
  if (read_error_) return refuse(refused_text());
  const std::string full = pick<std::string>(config_.lang, "the rule table is full (" + std::to_string(kMaxRules) + " rules)",
                                             "ルールが上限の " + std::to_string(kMaxRules) + " 件に達しています");
  if (grid().size() >= kMaxRules) return refuse(full);
  // All or nothing: a row that cannot reach the file is not added.
  const RuleFile before = file_;
  file_.insert_row(grid().size(), *command.row);
  if (Status s = write_file(); !s) {
    file_ = before;
    return refuse(pick<std::string>(config_.lang, "the rule file cannot be written: ", "ルールファイルに書き込めません: ") +
                  s.error().message());
  }
  rules_changed();
  changed();
  // Another program may have filled the table between the reading and the
  // writing: the row then stands beyond it.
  if (!file_.last_line_in_grid()) return refuse(full);
  notice_.clear();
  restart_if_on();
  return grid().size() - 1;
}

std::size_t FilterController::add_rows(const std::vector<GridRow>& rows) {
  std::size_t added = 0, refused = 0;
  std::string why;
  edit([&](RuleFile& f) {
    for (const GridRow& r : rows) {
      if (auto problem = row_problem(r)) {
        if (refused++ == 0) why = problem_text(*problem, config_.lang);
      } else if (f.insert_row(f.grid().size(), r)) {
        ++added;
      } else {
        ++refused;
        why = pick<std::string>(config_.lang, "the rule table is full", "ルールが上限に達しています");
      }
    }
    return added > 0;
  });
  if (refused > 0 && !read_error_) {
    notice_ = pick<std::string>(config_.lang, std::to_string(refused) + " row(s) were not added: ",
                                std::to_string(refused) + " 行を追加しませんでした: ") +
              why;
    warn(notice_);
    changed();
  }
  return added;
}

// ---------------------------------------------------------------------------
// Filtering

void FilterController::unbind_all() {
  if (Status s = deps_.engine.remove(); !s) note("cannot remove the packet filter: " + s.error().message());
}

void FilterController::stop() {
  unbind_all();
  filtering_ = false;
  note("packet filter off");
}

Status FilterController::start() {
  // The rules in force are those of the file as it is on disk now (edits
  // that could not be written stay in force instead).
  refresh();
  if (rules_.empty()) {
    unbind_all();
    message(FilterMessage::NoRules);
    filtering_ = false;
    note("packet filter: no rules, filtering stays off");
    if (read_error_)
      return Error{read_error_text(config_.rule_file_path, *read_error_, config_.lang), read_error_->detail,
                   read_error_->errno_value};
    return Error{std::string(message_text(FilterMessage::NoRules, config_.lang)), "no rules", ENOENT};
  }
  std::vector<platform::AdapterInfo> adapters;
  if (Status s = deps_.network.adapters(adapters); !s) {
    note("cannot read the adapters: " + s.error().message());
    message(FilterMessage::NoAdapterInfo);
    return Error{std::string(message_text(FilterMessage::NoAdapterInfo, config_.lang)), s.error().detail,
                 s.error().errno_value};
  }
  platform::FilterSet set;
  if (ipv6_) {
    std::vector<net::IpAddress> machine_ipv6;
    if (Status s = deps_.network.ipv6_addresses(machine_ipv6); !s) {
      note("cannot read the IPv6 addresses: " + s.error().message());
      message(FilterMessage::NoAdapterInfo);
      return Error{std::string(message_text(FilterMessage::NoAdapterInfo, config_.lang)), s.error().detail,
                   s.error().errno_value};
    }
    set = filter_set(rules_, local_addresses(adapters), machine_ipv6);
  } else {
    set = filter_set(rules_, local_addresses(adapters));
    const auto ipv6_rules = std::count_if(rules_.begin(), rules_.end(), [](const FilterRule& r) {
      return r.action == 1 && r.family == net::kFamilyIPv6;
    });
    if (ipv6_rules > 0)
      note("packet filter: " + std::to_string(ipv6_rules) +
           " IPv6 DROP rule(s) not installed, \"Settings\"/\"IPv6\" is 0");
  }
  if (Status a = deps_.engine.apply(set); !a) {
    // Filters that are not installed are not reported as on: the user
    // would believe traffic is dropped that is not.
    note("cannot install the packet filter: " + a.error().message());
    if (!quiet_ && config_.show_message) config_.show_message(a.error().headline);
    return a;
  }
  filtering_ = true;
  note("packet filter on: " + std::to_string(rules_.size()) + " rules");
  return {};
}

void FilterController::toggle() {
  if (filtering_) stop();
  else (void)start();
  quiet_ = false;
  changed();
}

Status FilterController::start_command() {
  unbind_all();
  filtering_ = false;
  quiet_ = true;
  Status s = start();
  quiet_ = false;
  changed();
  return s;
}

Status FilterController::stop_command() {
  stop();
  quiet_ = false;
  changed();
  return {};
}

void FilterController::restart() {
  // No unbind first: the engine replaces the installed set in one step, so
  // there is no moment without filters. A restart that fails ends with
  // nothing installed, so that "off" always means no filters.
  filtering_ = false;
  toggle();
  if (!filtering_) unbind_all();
}

void FilterController::start_from_setting(int start_setting) {
  if (start_setting == 1) (void)start_command();
}

void FilterController::shut_down() {
  if (filtering_) unbind_all();
  filtering_ = false;
}

}  // namespace tw::packetfilter
