#include "options.h"

#include "app/startup.h"

namespace tw::tarnixd {

const char* usage_text() {
  return "Usage: tarnixd [--interface NAME] [--capture-address ADDRESS] [--data-dir DIR]\n"
         "               [--metrics-file PATH] [--live | --quiet] [--verbose] [/w PID]\n"
         "       tarnixd --list-interfaces\n"
         "\n"
         "Samples the traffic of one network interface, writes the Tarnwatch logs and\n"
         "totals, watches the connections (the Session Monitor, with auto-block by the\n"
         "rules in tarnix_autoblock.txt of the data folder), captures packets when asked\n"
         "(the Packet Monitor), takes commands (tarnixctl send) and publishes the status\n"
         "record (tarnixctl status). SIGTERM, SIGINT or SIGHUP end it in order.\n"
         "\n"
         "  --interface NAME   sample NAME (kernel name or display name) and keep it as\n"
         "                     the chosen interface; default: the stored choice\n"
         "  --list-interfaces  print the interfaces with their positions and exit\n"
         "  --capture-address ADDRESS\n"
         "                     capture the packets of ADDRESS (an IPv4 address of this\n"
         "                     machine) from the start and keep it as the choice\n"
         "                     (\"Surveil\"/\"CaptureAddress\"); the capture needs root or\n"
         "                     tarnix-helper (see the README)\n"
         "  --data-dir DIR     keep the settings and logs in DIR instead of the data folder\n"
         "  --metrics-file PATH  write the figures for Prometheus to PATH every 5 s (for the\n"
         "                     node exporter's textfile collector: name it *.prom in its\n"
         "                     folder); default: \"Settings\"/\"MetricsFile\", empty = off\n"
         "  --live             print the live line once a second even when stdout is not\n"
         "                     a terminal (one line each)\n"
         "  --quiet            no live line\n"
         "  --verbose          notes on stderr (dropped commands, what was chosen,\n"
         "                     connections auto-block could not close)\n"
         "  /w PID             wait up to 10 s for process PID to end before starting\n"
         "                     (what a restart after a resume passes; \"/w\" with anything\n"
         "                     but exactly one PID after it is ignored)\n"
         "\n"
         "Packet capture without a window: with \"AutoStart\"=1 in section \"Surveil\" of\n"
         "the settings file, tarnixd captures from the start on the chosen address (the\n"
         "last --capture-address), else on the default one (the last address of the\n"
         "machine). Its packet log, in the same section: \"LogCheck\"=1 turns it on,\n"
         "\"LogFileName\" (default tarnix_ip$YYYY$$MM$.log) names the file,\n"
         "\"LogCycleTime\" is the seconds between entries (default 60), \"LogFmt\" the\n"
         "entry ($IP_PACKET$: the packets listed since the last entry), \"LogWriteMode\"\n"
         "other than 0 keeps only the newest entry; \"Interval\" (ms), \"Filter\",\n"
         "\"Filter_Port1\" and \"Filter_Port2\" choose which packets are listed.\n"
         "\n"
         "Every instance takes commands: the first on tarnwatch.sock, later ones on\n"
         "tarnwatch_#N.sock (see tarnixctl --help); later instances share the \"_#2\"\n"
         "settings file. After the machine resumed from a suspend, tarnixd starts a\n"
         "successor with the same options and ends; under systemd (NOTIFY_SOCKET or\n"
         "INVOCATION_ID set) it goes on and starts a new report instead.\n";
}

ParseResult parse_options(const std::vector<std::string>& args) {
  ParseResult r;
  auto own_end = args.end();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.starts_with("/w")) {
      own_end = args.begin() + static_cast<std::ptrdiff_t>(i);
      r.options.restart_pid = app::parse_restart_argument(std::vector<std::string>(own_end, args.end()));
      break;
    }
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        r.error = a + " needs a value";
        return;
      }
      out = args[++i];
    };
    if (a == "--interface") value(r.options.interface);
    else if (a.starts_with("--interface=")) r.options.interface = a.substr(12);
    else if (a == "--capture-address") value(r.options.capture_address);
    else if (a.starts_with("--capture-address=")) r.options.capture_address = a.substr(18);
    else if (a == "--data-dir") value(r.options.data_dir);
    else if (a.starts_with("--data-dir=")) r.options.data_dir = a.substr(11);
    else if (a == "--metrics-file") value(r.options.metrics_file);
    else if (a.starts_with("--metrics-file=")) r.options.metrics_file = a.substr(15);
    else if (a == "--list-interfaces") r.options.list_interfaces = true;
    else if (a == "--live") r.options.live = true;
    else if (a == "--quiet") r.options.quiet = true;
    else if (a == "--verbose") r.options.verbose = true;
    else if (a == "--help" || a == "-h") r.options.help = true;
    else r.error = "unknown argument: " + a;
    if (!r.error.empty()) return r;
  }
  r.options.own_args.assign(args.begin(), own_end);
  if (r.options.live && r.options.quiet) r.error = "--live and --quiet exclude each other";
  return r;
}

}  // namespace tw::tarnixd
