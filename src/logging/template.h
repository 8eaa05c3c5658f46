#pragma once
// The log template language: "$NAME$" variables replaced by plain text
// substitution, one variable after the other in a fixed order.
//
// Pure functions; any thread may call them.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "traffic/statistics_texts.h"

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

// Everything an entry's variables are filled from, except the date.
struct EntryValues {
  const traffic::StatisticsTexts* traffic = nullptr;  // nullptr: the eleven texts are empty
  std::string_view session;      // "$SESSION$"
  std::string_view connections;  // "$CONNECTIONS$"
  std::string_view ip_packet;    // "$IP_PACKET$"
  std::string_view send_dis;     // "$TOTAL_SEND_DIS$"
  std::string_view recv_dis;     // "$TOTAL_RECV_DIS$"
};

// An entry from its loaded template: line-break pairs become line feeds, then
// the date and time variables, "$DATE$", "$TIME$", the eleven traffic
// variables, "$SESSION$", "$CONNECTIONS$", "$IP_PACKET$", "$TOTAL_SEND_DIS$",
// "$TOTAL_RECV_DIS$" are replaced in this order. At most kMaxEntryLength bytes.
std::string expand_entry(std::string_view entry_template, const DateTexts& date,
                         const EntryValues& values);

}  // namespace tw::logging
