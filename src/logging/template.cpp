#include "logging/template.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tw::logging {

namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Appends `piece` to `out` but never beyond `limit` bytes. False once full.
bool append_bounded(std::string& out, std::string_view piece, std::size_t limit) {
  if (out.size() >= limit) return false;
  const std::size_t room = limit - out.size();
  if (piece.size() > room) {
    out.append(piece.substr(0, room));
    return false;
  }
  out.append(piece);
  return true;
}

std::string two_digits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

void truncate_utf8(std::string& text, std::size_t max_size) {
  if (text.size() <= max_size) return;
  std::size_t cut = max_size;
  // A UTF-8 sequence is at most four bytes: step back over at most three
  // continuation bytes to the start of the character that would be split. In
  // text that is not UTF-8 at all, just cut at the limit.
  for (int back = 0; back < 3 && cut > 0 && is_continuation(text[cut]); ++back) --cut;
  if (is_continuation(text[cut])) cut = max_size;
  text.resize(cut);
}

std::string expand_variables(std::string_view text, std::span<const Variable> vars,
                             std::size_t max_size) {
  std::string current(text.substr(0, std::min(text.size(), max_size)));
  truncate_utf8(current, max_size);
  std::string next;
  for (const Variable& var : vars) {
    if (var.name.empty()) continue;  // would match everywhere and never advance
    std::size_t pos = current.find(var.name);
    if (pos == std::string::npos) continue;
    next.clear();
    std::size_t from = 0;
    bool room = true;
    while (pos != std::string::npos && room) {
      room = append_bounded(next, std::string_view(current).substr(from, pos - from), max_size) &&
             append_bounded(next, var.value, max_size);
      from = pos + var.name.size();
      pos = current.find(var.name, from);
    }
    if (room) append_bounded(next, std::string_view(current).substr(from), max_size);
    truncate_utf8(next, max_size);
    current.swap(next);
  }
  return current;
}

std::string template_from_stored(std::string_view stored) {
  const Variable crlf{"$CRLF$", "\r\n"};
  return expand_variables(stored, std::span(&crlf, 1), std::string::npos);
}

std::string template_to_stored(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "$CRLF$";
    } else if (c == '\n') {
      out += "$CRLF$";
    } else {
      out += c;
    }
  }
  return out;
}

std::string crlf_to_lf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

DateTexts date_texts(const platform::LocalTime& t) {
  DateTexts d;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d", t.year);
  d.yyyy = buf;
  d.yy = two_digits(((t.year % 100) + 100) % 100);
  d.mm = two_digits(t.month);
  d.dd = two_digits(t.day);
  d.hh = two_digits(t.hour);
  d.mi = two_digits(t.minute);
  d.ss = two_digits(t.second);
  d.date = d.yyyy + "/" + d.mm + "/" + d.dd;
  d.time = d.hh + ":" + d.mi + ":" + d.ss;
  return d;
}

namespace {

std::array<Variable, 7> date_component_variables(const DateTexts& date) {
  return {{{"$YYYY$", date.yyyy},
           {"$YY$", date.yy},
           {"$MM$", date.mm},
           {"$DD$", date.dd},
           {"$HH$", date.hh},
           {"$MI$", date.mi},
           {"$SS$", date.ss}}};
}

}  // namespace

std::string expand_file_name(std::string_view name_template, const DateTexts& date) {
  const auto vars = date_component_variables(date);
  return expand_variables(name_template, vars);
}

std::string expand_entry(std::string_view entry_template, const DateTexts& date,
                         const EntryValues& values) {
  static const traffic::StatisticsTexts kNoTraffic;
  const traffic::StatisticsTexts& t = values.traffic ? *values.traffic : kNoTraffic;
  const auto dc = date_component_variables(date);
  const Variable vars[] = {
      dc[0], dc[1], dc[2], dc[3], dc[4], dc[5], dc[6],
      {"$DATE$", date.date},
      {"$TIME$", date.time},
      {"$CAPTURE_TIME$", t.capture_time},
      {"$TOTAL_SEND$", t.total_send},
      {"$TOTAL_RECV$", t.total_recv},
      {"$TOTAL_SEND_ALL$", t.gross_send},
      {"$TOTAL_RECV_ALL$", t.gross_recv},
      {"$TOTAL_SEND_AVE$", t.average_send},
      {"$TOTAL_RECV_AVE$", t.average_recv},
      {"$GRAPH_SEND_AVE$", t.smoothed_send},
      {"$GRAPH_RECV_AVE$", t.smoothed_recv},
      {"$GRAPH_SEND_MAX$", t.max_send},
      {"$GRAPH_RECV_MAX$", t.max_recv},
      {"$SESSION$", values.session},
      {"$CONNECTIONS$", values.connections},
      {"$IP_PACKET$", values.ip_packet},
      {"$TOTAL_SEND_DIS$", values.send_dis},
      {"$TOTAL_RECV_DIS$", values.recv_dis},
  };
  std::string text = expand_variables(crlf_to_lf(entry_template), vars);
  truncate_utf8(text, kMaxEntryLength);
  return text;
}

}  // namespace tw::logging
