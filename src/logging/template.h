#pragma once
// The log template language: "$NAME$" variables replaced by plain text
// substitution, one variable after the other in a fixed order.
//
// Pure functions; any thread may call them.
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tw::logging {

// One substitution step: every occurrence of `name` becomes `value`.
struct Variable {
  std::string_view name;
  std::string_view value;
};

// Longest entry text the writer puts in a file (the line feed that ends the
// entry comes on top). Longer entries are cut.
inline constexpr std::size_t kMaxEntryLength = 65535;

// Hard ceiling for the text while it is being expanded. Session and packet
// rows carry text taken from the network (host names, packet payloads); if
// they repeat variable names, each later step would multiply the entry again.
// Nothing above the entry limit ends up in the file, and no real template comes
// near this size, so the text is simply cut here between the steps.
inline constexpr std::size_t kExpansionCeiling = std::size_t{4} << 20;

// Applies the variables in the order given. Each step replaces every
// occurrence of its name, case-sensitively, scanning left to right and
// resuming after the inserted value; so a name inside an inserted value is
// expanded only by the steps after it, never by its own (a value may contain
// its own name). The result is at most `max_size` bytes (cut at a UTF-8
// character boundary when it would be longer).
std::string expand_variables(std::string_view text, std::span<const Variable> vars,
                             std::size_t max_size = kExpansionCeiling);

// Cuts `text` to at most `max_size` bytes without splitting a UTF-8 sequence.
void truncate_utf8(std::string& text, std::size_t max_size);

// Templates are stored in the settings file on one line, with "$CRLF$" for each
// line break. In memory a loaded template has "\r\n" pairs instead.
std::string template_from_stored(std::string_view stored);
// The reverse, for a settings page that saves an edited template: every line
// break ("\r\n", "\n" or a lone "\r") becomes "$CRLF$", so the value stays on
// one INI line.
std::string template_to_stored(std::string_view text);

// Text-mode files on Linux end lines with a bare line feed.
std::string crlf_to_lf(std::string_view text);

// The date and time texts of one entry, all from the same instant.
struct DateTexts {
  std::string yyyy;  // "%Y"
  std::string yy;    // "%y"
  std::string mm;    // "%m"
  std::string dd;    // "%d"
  std::string hh;    // "%H"
  std::string mi;    // "%M"
  std::string ss;    // "%S"
  std::string date;  // "%Y/%m/%d"
  std::string time;  // "%H:%M:%S"
};
DateTexts date_texts(const platform::LocalTime& t);

// A log file name from its template: "$YYYY$", "$YY$", "$MM$", "$DD$",
// "$HH$", "$MI$", "$SS$" in this order.
std::string expand_file_name(std::string_view name_template, const DateTexts& date);

// Every variable of an entry template, in the order the variables are
// replaced. The order is part of the language: a value may contain another
// variable's name, and that name is expanded only when its step comes later.
// The date and time variables come first and belong to the writer; the others
// are filled by the log sources (traffic statistics, session list, packet
// list). A new variable gets its place here.
inline constexpr std::size_t kDateVariableCount = 9;
inline constexpr std::array<std::string_view, 25> kEntryVariables = {
    "$YYYY$", "$YY$", "$MM$", "$DD$", "$HH$", "$MI$", "$SS$", "$DATE$", "$TIME$",
    "$CAPTURE_TIME$", "$TOTAL_SEND$", "$TOTAL_RECV$", "$TOTAL_SEND_ALL$", "$TOTAL_RECV_ALL$",
    "$TOTAL_SEND_AVE$", "$TOTAL_RECV_AVE$", "$GRAPH_SEND_AVE$", "$GRAPH_RECV_AVE$",
    "$GRAPH_SEND_MAX$", "$GRAPH_RECV_MAX$",
    "$SESSION$", "$CONNECTIONS$", "$IP_PACKET$",
    "$TOTAL_SEND_DIS$", "$TOTAL_RECV_DIS$"};

// The values of one entry's source variables (all but the date and time).
class EntryValues {
 public:
  // Sets a variable's value. False, and nothing stored, for a name that is not
  // one of kEntryVariables or is a date or time variable.
  bool set(std::string_view name, std::string value);
  bool has(std::string_view name) const;
  // The value, or an empty text when it is not set.
  std::string_view get(std::string_view name) const;

 private:
  std::array<std::optional<std::string>, kEntryVariables.size()> values_;
};

// An entry from its loaded template: line-break pairs become line feeds, then
// every variable of kEntryVariables is replaced in that order, the date and
// time from `date`, the others from `values` (empty when not set). At most
// kMaxEntryLength bytes.
std::string expand_entry(std::string_view entry_template, const DateTexts& date,
                         const EntryValues& values);

}  // namespace tw::logging
