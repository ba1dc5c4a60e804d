// Notices of changes to the port map in the configuration store (see portmap.h): a COM
// number mapped, mapped to another device, or unmapped, by this program or by another one
// (scripts/virtual-port-pair edits the store's file directly).
//
// The store's files are watched through the file system (inotify), the directories that
// would hold them too, so a store that does not exist yet is seen once it is made. Each
// notice reads the map again and reports only a map that differs from the one read before:
// other values of the store coming and going are no port change.
//
// Thread: created on, and reports on, a thread with a Qt event loop (the main thread).
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vxcomm {

class TvxPortMapMonitor : public QObject {
  Q_OBJECT

 public:
  // Reads the map as it is now; later changes are reported against it.
  explicit TvxPortMapMonitor(QObject* parent = nullptr);

  // (Mapped, Unmapped): COM numbers whose mapping came or now names another device, and
  // those whose mapping went.
  std::function<void(const std::vector<int>& mapped, const std::vector<int>& unmapped)> OnMapChange;

  // Reads the map and reports a difference now, as a file notice does.
  void Look();

 private:
  void Watch();

  QFileSystemWatcher watcher_;
  std::map<int, std::string> map_;
};

// The files of the configuration store that hold the port map: the user scope's, then the
// system scope's, whether or not they exist.
std::vector<std::string> vxPortMapFiles();

}  // namespace vxcomm
