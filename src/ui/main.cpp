// tarnix: the desktop program.
//
// Start-up order: wait for a restarting predecessor ("/w PID"), take the
// instance marker (a second instance gets the "_#2" files), find the data
// folder, name the settings file, choose the language, open the interface
// table and the Traffic Monitor, the status block and the command channel,
// build the main window (its Traffic Monitor page chooses the interface), start
// the sampler thread and let the window finish the start-up.
//
// Threads: the UI thread runs everything but TrafficMonitor::tick(), which the
// sampler thread calls. SIGTERM, SIGINT and SIGHUP, and the session manager's
// request to save, run the main window's shut-down like the Exit command.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QSessionManager>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "host/runtime_host.h"
#include "platform/linux/netlink_link_stats.h"
#include "platform/linux/dns_client.h"
#include "platform/linux/file_store.h"
#include "platform/linux/network_info.h"
#include "platform/linux/process_runner.h"
#include "platform/linux/protocol_stats.h"
#include "platform/linux/whois_client.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/sock_diag.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "shell/main_window_logic.h"
#include "ui/main/main_window.h"
#include "ui/main/power_events.h"
#include "ui/main/qt_beeper.h"
#include "ui/main/qt_translations.h"
#include "ui/main/signal_pipe.h"

namespace {

using namespace tw;

// How long a restarting successor waits for its predecessor.
constexpr std::chrono::milliseconds kRestartWait{10000};

void note(const std::string& text) { std::fprintf(stderr, "tarnix: %s\n", text.c_str()); }

// A warning box that does not hold the program up; it runs on behind it.
void show_warning(const std::string& text, QWidget* parent) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tarnwatch"), QString::fromStdString(text),
                              QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

int run(int argc, char** argv) {
  // The restart argument is the whole command line or nothing.
  if (const auto pid = app::parse_restart_argument(std::vector<std::string>(argv + 1, argv + argc))) {
    // The predecessor still running after the wait keeps running; we must not.
    if (*pid > 0 && platform::wait_for_process_exit(*pid, kRestartWait) == platform::WaitResult::TimedOut)
      return 0;
  }

  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(shell::kProductName.data(), shell::kProductName.size()));
  // The program ends through its own shut-down, not when its last window
  // closes: the window may be hidden in the tray.
  QApplication::setQuitOnLastWindowClosed(false);

  std::string error;
  const std::unique_ptr<ui::SignalPipe> stop_signals = ui::SignalPipe::install(&error);
  if (!stop_signals) note("signals end the program without its shut-down: " + error);

  const Language lang = host::environment_language();
  const std::unique_ptr<QTranslator> qt_texts = ui::install_qt_translations(lang);
  if (lang == Language::Japanese && !qt_texts) note("Qt's Japanese texts are not installed; its buttons stay English");

  ui::QtBeeper beeper;
  host::HostOptions options;
  options.beeper = &beeper;
  options.warn = note;
  options.note = note;
  // A failed save of the totals, a log that cannot be written: said once,
  // in a box shown when the event loop runs.
  options.alert = [](const std::string& text) {
    note(text);
    QMetaObject::invokeMethod(qApp, [text] { show_warning(text, nullptr); }, Qt::QueuedConnection);
  };
  // A data folder another user could have written: defaults, nothing written.
  options.run_on_defaults_when_untrusted = true;
  host::HostError error_info;
  const std::unique_ptr<host::RuntimeHost> host = host::RuntimeHost::open(std::move(options), &error_info);
  if (!host) {
    const QString text = pick<QString>(lang, QStringLiteral("No folder for the settings file can be written:\n%1"),
                                       QStringLiteral("設定ファイルを保存するフォルダーに書き込めません:\n%1"))
                             .arg(QString::fromStdString(error_info.folder.empty() ? std::string("~/.config/tarnwatch/")
                                                                                   : error_info.folder));
    note(error_info.message);
    QMessageBox::critical(nullptr, QStringLiteral("Tarnwatch"), text);
    return 1;
  }

  // The Interface tab reads its own sources on the UI thread.
  platform::LinuxNetworkInfo network_info;
  platform::NetlinkLinkStats info_links;
  // The NETSTAT worker reads a socket table of its own, beside the session
  // refresh; the host gives it a process table that asks the helper too.
  platform::SockDiagSocketTable netstat_sockets;

  // The tool tabs' services. Their files (histories, the WHOIS table) are
  // the data folder's too.
  platform::FileStore& tool_files = host->files();
  platform::SpawnProcessRunner tool_processes;
  platform::SocketWhoisClient whois_client;
  platform::LdnsDnsClient dns_client;
  platform::SystemHostLookup host_lookup;
  platform::LinuxProtocolStats protocol_stats;

  ui::MainWindowServices services;
  services.profile = &host->profile();
  services.traffic = &host->traffic();
  services.runtime = &host->runtime();
  services.clock = &host->clock();
  services.lang = lang;
  services.data_folder = host->data_folder();
  services.packets = &host->packet_feature();
  services.network_info = &network_info;
  services.info_links = info_links.is_supported() ? &info_links : nullptr;
  services.sessions = &host->session_feature();
  services.netstat = {&netstat_sockets, &host->netstat_processes(), &host->process_names(), &host->host_names(),
                      &host->resolver(), [&h = *host] { h.ready_helper(); }};
  services.tools = {&tool_files, &tool_processes, &whois_client, &dns_client, &host_lookup, &protocol_stats,
                    host->data_folder()};
  services.packet_filter = &host->packet_filter();
  services.launch_successor = [] {
    const std::string exe = platform::executable_path();
    if (exe.empty()) return false;
    QStringList args;
    for (const std::string& a : app::restart_arguments(static_cast<unsigned long>(::getpid())))
      args << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(exe), args, QDir::currentPath());
  };

  ui::MainWindow window(services);
  window.serve_commands(host->commands());
  QObject::connect(&window, &ui::MainWindow::finished, &qapp, &QCoreApplication::quit, Qt::QueuedConnection);
  if (stop_signals) {
    QObject::connect(stop_signals.get(), &ui::SignalPipe::received, &window, [&window](int) { window.shut_down(); });
  }
  // The session ends (log-off, power-off): the same save sequence.
  QObject::connect(&qapp, &QGuiApplication::commitDataRequest, &window,
                   [&window](QSessionManager&) { window.shut_down(); });

  // Suspend and resume, when logind is there to tell.
  ui::PowerEvents power;
  QObject::connect(&power, &ui::PowerEvents::suspending, &window, &ui::MainWindow::on_suspend);
  QObject::connect(&power, &ui::PowerEvents::resumed, &window, &ui::MainWindow::on_resume);

  // The page has chosen the interface: sample it from now on.
  host->start_sampler();

  window.start();
  // Said once: from here on the file gives defaults and takes nothing. The
  // box does not hold the program up; it runs on behind it.
  if (!host->untrusted_text().empty()) {
    note(host->untrusted_text());
    show_warning(host->untrusted_text(), &window);
  } else if (const auto problem = host->profile().file_problem(); problem != settings::SettingsFileProblem::None) {
    const std::string text = app::settings_problem_text(host->settings_path(), problem, lang);
    note(text);
    show_warning(text, &window);
  }
  const int rc = QApplication::exec();
  window.shut_down();  // when the loop ended another way
  host->finish(false);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnix: %s\n", e.what());
    return 1;
  }
}
