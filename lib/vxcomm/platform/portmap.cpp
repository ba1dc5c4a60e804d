#include "vxcomm/platform/portmap.h"

#include <unistd.h>

#include <QSettings>

#include "vxcomm/platform/configscope.h"

namespace vxcomm {

namespace {
// "COM12" (any case) to 12; 0 when Name is not a COM name.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' ||
      (name[2] | 0x20) != 'm')
    return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

void ReadScope(QSettings::Scope scope, std::map<int, std::string>& map) {
  auto settings = vxOpenConfigStore(scope);
  settings->beginGroup("PortMap");
  for (const QString& key : settings->childKeys()) {
    int n = ComNumber(key.toStdString());
    QString path = settings->value(key).toString();
    if (n > 0 && !path.isEmpty()) map[n] = path.toLocal8Bit().toStdString();
  }
}
}  // namespace

std::map<int, std::string> vxReadPortMap() {
  std::map<int, std::string> map;
  ReadScope(QSettings::SystemScope, map);
  ReadScope(QSettings::UserScope, map);  // the user's mapping wins
  return map;
}

void vxWritePortMapping(int number, const std::string& path) {
  auto settings = vxOpenConfigStore(QSettings::UserScope);
  QString key = QString("PortMap/COM%1").arg(number);
  if (path.empty())
    settings->remove(key);
  else
    settings->setValue(key, QString::fromLocal8Bit(path.c_str()));
  settings->sync();
}

std::string vxResolvePortName(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  // A path relative to the working directory ("./ttyV0", "lab/board"): no port name has a '/'.
  if (name.find('/') != std::string::npos) return name;
  // A kernel port without a COM number (ttyUSB0, ttyACM0) is listed under its own name.
  if (name.rfind("tty", 0) == 0 && name.size() > 3 && name.find('/') == std::string::npos)
    return "/dev/" + name;
  int n = ComNumber(name);
  if (n <= 0) {
    // An adapter's stable name, as /dev/serial/by-id lists it.
    const std::string by_id = "/dev/serial/by-id/" + name;
    return name.find('/') == std::string::npos && access(by_id.c_str(), F_OK) == 0 ? by_id
                                                                                   : std::string();
  }
  auto map = vxReadPortMap();
  auto it = map.find(n);
  return it != map.end() ? it->second : "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace vxcomm
