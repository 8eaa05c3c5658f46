// The graph's snapshot as a PNG file beside the logs.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include "app/startup.h"
#include "platform/clock.h"
#include "ui/main/main_window.h"

namespace tw::ui {

MainWindow::SnapshotResult MainWindow::take_snapshot() {
  if (shut_down_) return SnapshotResult::NoFrame;
  const QImage frame = snapshot_source_ ? snapshot_source_() : QImage();
  if (frame.isNull()) return SnapshotResult::NoFrame;
  const shell::SnapshotPaths paths =
      shell::snapshot_paths(data_folder_, app::kProgramBaseName, shell_.log_root_folder, clock_.local_now());
  const QString tmp = QString::fromStdString(paths.temporary);
  const QString png = QString::fromStdString(paths.image);
  // One picture per second: a second request within it finds one of the two.
  if (QFileInfo::exists(tmp) || QFileInfo::exists(png)) return SnapshotResult::Skipped;

  QFile file(tmp);
  // NewOnly: another instance taking its snapshot in the same second wins,
  // this one is skipped instead of writing into the same file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
    return file.exists() ? SnapshotResult::Skipped : SnapshotResult::Failed;
  const bool written = frame.convertToFormat(QImage::Format_RGB888).save(&file, "PNG");
  file.close();
  // The picture appears under its name only when complete, and never
  // replaces an existing one (rename refuses an existing target).
  if (!written || file.error() != QFileDevice::NoError || !QFile::rename(tmp, png)) {
    QFile::remove(tmp);
    return SnapshotResult::Failed;
  }
  QApplication::alert(this, 500);  // the acknowledgement: the window asks for attention briefly
  return SnapshotResult::Written;
}

}  // namespace tw::ui
