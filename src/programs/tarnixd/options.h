#pragma once
// tarnixd's command line: its own options, then optionally what the desktop
// program takes, the restart argument "/w PID". From the first argument that
// begins with "/w" on, the rest of the line is read exactly as the desktop
// program reads its whole command line: "/w PID" is the restart argument,
// anything else ("/w" alone, "/w PID extra") is ignored. A restart hands the
// successor the options before it, so that it runs as this instance did.
#include <optional>
#include <string>
#include <vector>

namespace tw::tarnixd {

struct Options {
  std::optional<long> restart_pid;  // "/w PID": wait for that process first
  std::vector<std::string> own_args;  // the options before any "/w" part, as given
  std::string interface;            // --interface NAME ("" = the stored choice)
  std::string capture_address;      // --capture-address ADDRESS ("" = the stored choice)
  std::string data_dir;             // --data-dir DIR ("" = the usual data folder)
  std::string metrics_file;         // --metrics-file PATH ("" = "Settings"/"MetricsFile")
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

// tarnixd's choice of the Packet Monitor's capture address, kept beside the
// monitor's own keys. The desktop program does not read it: its address
// field starts on the default address, as the monitor's page always has.
inline constexpr const char* kCaptureAddressSection = "Surveil";
inline constexpr const char* kCaptureAddressKey = "CaptureAddress";

}  // namespace tw::tarnixd
