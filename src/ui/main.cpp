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
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/core.h"
#include "shell/main_window_logic.h"
#include "app/startup.h"
#include "logging/log_engine.h"
#include "platform/linux/command_socket.h"
#include "platform/linux/file_store.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/netlink_link_stats.h"
#include "platform/linux/network_info.h"
#include "platform/linux/periodic_thread.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/status_block.h"
#include "platform/linux/system_clock.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
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

  const Language lang =
      app::language_from_locale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  const std::unique_ptr<QTranslator> qt_texts = ui::install_qt_translations(lang);
  if (lang == Language::Japanese && !qt_texts) note("Qt's Japanese texts are not installed; its buttons stay English");

  // Instance marker: a later instance runs beside the first with the "_#2"
  // settings file and a numbered command socket of its own.
  const platform::InstanceLock lock = platform::InstanceLock::acquire(app::kProgramBaseName);
  if (!lock.status().ok())
    note("no instance lock (" + lock.status().error().detail + "), running as the first instance");

  std::string folder = platform::data_folder();
  if (!folder.empty() && !platform::make_folders(folder)) folder.clear();
  if (folder.empty() || ::access(folder.c_str(), W_OK | X_OK) != 0) {
    const QString text = pick<QString>(lang, QStringLiteral("No folder for the settings file can be written:\n%1"),
                                       QStringLiteral("設定ファイルを保存するフォルダーに書き込めません:\n%1"))
                             .arg(QString::fromStdString(folder.empty() ? std::string("~/.config/tarnwatch/") : folder));
    QMessageBox::critical(nullptr, QStringLiteral("Tarnwatch"), text);
    return 1;
  }
  const std::string settings_path =
      folder + app::settings_file_name(app::kProgramBaseName, platform::user_name(), platform::host_name(),
                                       !lock.first_instance());

  platform::LinuxFileStore files;
  platform::SystemClock clock;
  ui::QtBeeper beeper;
  settings::Profile profile(files, settings_path);

  // The sampler's interface table, read on the sampler thread only. Without
  // it the program still runs; the graph stays empty.
  platform::NetlinkLinkStats links;
  if (!links.ok()) note("cannot open the network interface table: " + links.error());
  traffic::TrafficMonitor traffic(profile, links, clock, lang);

  std::unique_ptr<platform::PosixStatusBlock> status = platform::PosixStatusBlock::open(&error);
  if (!status) note("no status block: " + error);
  std::unique_ptr<platform::CommandServer> commands =
      platform::CommandServer::listen_as_instance(lock.first_instance(), &error);
  if (!commands) note("no command channel: " + error);

  logging::LogEngine logs(profile, files, clock, beeper, lang, folder);
  app::AppCore core(profile, traffic, logs, status.get());

  // The Interface tab reads its own sources on the UI thread.
  platform::LinuxNetworkInfo network_info;
  platform::NetlinkLinkStats info_links;

  platform::PeriodicThread sampler;
  ui::MainWindowServices services;
  services.profile = &profile;
  services.traffic = &traffic;
  services.core = &core;
  services.clock = &clock;
  services.lang = lang;
  services.data_folder = folder;
  services.network_info = &network_info;
  services.info_links = info_links.ok() ? &info_links : nullptr;
  services.stop_sampling = [&] { sampler.stop(); };
  services.release_status_block = [&] { status.reset(); };
  services.launch_successor = [] {
    const std::string exe = platform::executable_path();
    if (exe.empty()) return false;
    QStringList args;
    for (const std::string& a : app::restart_arguments(static_cast<unsigned long>(::getpid())))
      args << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(exe), args, QDir::currentPath());
  };

  ui::MainWindow window(services);
  window.serve_commands(commands.get());
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
  if (!sampler.start(std::chrono::milliseconds(traffic.sampling_period_ms()), [&] { traffic.tick(); },
                     "tw-sampler"))
    note("cannot start the sampler thread; nothing is sampled");

  window.start();
  // Said once: from here on the file gives defaults and takes nothing. The
  // box does not hold the program up; it runs on behind it.
  if (const auto problem = profile.file_problem(); problem != settings::SettingsFileProblem::None) {
    const std::string text = app::settings_problem_text(settings_path, problem, lang);
    note(text);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tarnwatch"), QString::fromStdString(text),
                                QMessageBox::Ok, &window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }
  const int rc = QApplication::exec();
  window.shut_down();  // when the loop ended another way
  sampler.stop();
  commands.reset();
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
