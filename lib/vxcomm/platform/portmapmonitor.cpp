#include "vxcomm/platform/portmapmonitor.h"

#include <QDir>
#include <QFileInfo>

#include "vxcomm/platform/configscope.h"
#include "vxcomm/platform/portmap.h"

namespace vxcomm {

std::vector<std::string> vxPortMapFiles() {
  std::vector<std::string> files;
  for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
    files.push_back(vxOpenConfigStore(scope)->fileName().toStdString());
  return files;
}

TvxPortMapMonitor::TvxPortMapMonitor(QObject* parent) : QObject(parent), map_(vxReadPortMap()) {
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &TvxPortMapMonitor::Look);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &TvxPortMapMonitor::Look);
  Watch();
}

void TvxPortMapMonitor::Watch() {
  // A file replaced by a rename drops out of the watch, and a directory made later must be
  // seen: after every notice each file, or the nearest directory that is there, is watched.
  QStringList wanted;
  for (const std::string& file : vxPortMapFiles()) {
    QFileInfo info(QString::fromStdString(file));
    if (info.exists()) wanted << info.absoluteFilePath();
    QDir dir = info.absoluteDir();
    while (!dir.exists() && !dir.isRoot()) dir.setPath(QFileInfo(dir.absolutePath()).path());
    if (dir.exists()) wanted << dir.absolutePath();
  }
  wanted.removeDuplicates();
  QStringList stale;
  for (const QString& path : watcher_.files() + watcher_.directories())
    if (!wanted.contains(path)) stale << path;
  if (!stale.isEmpty()) watcher_.removePaths(stale);
  QStringList fresh;
  for (const QString& path : wanted)
    if (!watcher_.files().contains(path) && !watcher_.directories().contains(path)) fresh << path;
  if (!fresh.isEmpty()) watcher_.addPaths(fresh);
}

void TvxPortMapMonitor::Look() {
  Watch();
  std::map<int, std::string> now = vxReadPortMap();
  if (now == map_) return;
  std::vector<int> mapped, unmapped;
  for (const auto& [number, path] : now) {
    auto before = map_.find(number);
    if (before == map_.end() || before->second != path) mapped.push_back(number);
  }
  for (const auto& [number, path] : map_)
    if (!now.count(number)) unmapped.push_back(number);
  map_ = std::move(now);
  // Last: the handler may end this monitor.
  if (OnMapChange) OnMapChange(mapped, unmapped);
}

}  // namespace vxcomm
