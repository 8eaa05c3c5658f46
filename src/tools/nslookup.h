#pragma once
// The NSLOOKUP tool: the address lines of a target and its records of the
// chosen types, as text for the output box.
//
// Run states as for the other tools: 0 idle, 1 starting, 2 running, 3
// finished, 4 abort requested. The worker looks at the state between record
// types; the query under way is ended by the worker's stop token, which the
// tab stops together with the abort (and when it closes), so neither waits
// for a resolver that does not answer.
//
// Threads: start(), stop() and tick() on the user-interface thread;
// run_worker() on the tab's worker. The output is handed over through the
// state: the user-interface thread reads it only in state 3 (and under the
// lock while the worker runs, for the abort text).
#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "platform/dns_client.h"
#include "tools/tool_settings.h"

namespace tw::tools {

struct RecordTypeText {
  const char* name;
  int type;
  const char* header_en;
  const char* failure_en;
  const char* header_ja;
  const char* failure_ja;
};
// A NS CNAME PTR MX WKS SOA HINFO TXT, the order of the filter flags.
extern const std::array<RecordTypeText, 9> kRecordTypes;

std::string_view record_header(std::size_t index, Language lang);
std::string_view record_failure(std::size_t index, Language lang);

// The entry lines of one record (type from the record); `name_address` is
// the address text of an NS or MX record's name (unused for other types).
// Empty for a HINFO or TXT record without strings and for other types.
std::string record_entry(const platform::DnsRecord& r, const std::string& name_address);

// The address text of a name: the name itself when it is digits and dots,
// else its first address, else "* " and the system's reason.
std::string address_text(platform::HostLookup& hosts, const std::string& name, std::stop_token token = {});

// The host-name text of an address text: its registered name; else, for a
// private IPv4 address, the older host lookup's name or the address itself;
// for any other IPv4 address "※" and the reason; for anything else the
// address text itself.
std::string host_name_text(platform::HostLookup& hosts, const std::string& address, std::stop_token token = {});

// "IP Address  = ...\r\nHost Name   = ...\r\n".
std::string address_lines(const std::string& address, const std::string& host_name);

class NslookupRun {
 public:
  enum State : int { kIdle = 0, kStarting = 1, kRunning = 2, kFinished = 3, kAbortRequested = 4 };

  explicit NslookupRun(Language lang) : lang_(lang) {}

  int state() const { return state_.load(); }

  // The button while idle: the text shown at once ("Search "), or "" when the
  // target is empty or a run is under way (nothing happens then). The caller
  // then starts the worker and the tick.
  std::string start(std::string_view target);
  // The button while running: the text to show ("Aborted.", an empty line,
  // the output so far), "" when not running. The caller then waits for the
  // worker.
  std::string stop();
  // The tab closing: like stop(), and a worker that has not begun yet ends
  // at once.
  void cancel();

  // Once `token` is stopped the lookups end at once and the worker adds
  // nothing more; the output keeps what was complete before.
  void run_worker(platform::DnsClient* dns, platform::HostLookup& hosts, const RecordFilter& filter,
                  bool direct, std::stop_token token = {});

  struct TickOutput {
    std::string append;   // progress mark
    bool show = false;    // `text` replaces the display
    std::string text;
    bool finished = false;
  };
  TickOutput tick();

  std::string output() const;

 private:
  void append(const std::string& s);

  Language lang_;
  std::atomic<int> state_{kIdle};
  std::string target_;
  mutable std::mutex mutex_;
  std::string output_;
  int ticks_ = 0;
  bool aborted_ = false;  // user-interface thread only
};

}  // namespace tw::tools
