#pragma once
// tarnixd's command line. The desktop program takes only the restart argument
// "/w PID"; tarnixd takes that too (as the whole command line, exactly as the
// desktop program does) or its own options.
#include <optional>
#include <string>
#include <vector>

namespace tw::tarnixd {

struct Options {
  std::optional<long> restart_pid;  // "/w PID": wait for that process first
  std::string interface;            // --interface NAME ("" = the stored choice)
  std::string data_dir;             // --data-dir DIR ("" = the usual data folder)
  bool list_interfaces = false;     // --list-interfaces
  bool live = false;                // --live: the live line even when stdout is no terminal
  bool quiet = false;               // --quiet: no live line even on a terminal
  bool verbose = false;             // --verbose: debug notes on stderr
  bool help = false;                // --help
};

struct ParseResult {
  Options options;
  std::string error;  // non-empty: a usage error, say it and exit 2
};

ParseResult parse_options(const std::vector<std::string>& args_after_program);

const char* usage_text();

}  // namespace tw::tarnixd
