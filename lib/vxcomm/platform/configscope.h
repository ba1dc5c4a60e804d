// The configuration store (the registry's place here): QSettings in INI format, the user
// scope for per-user values and the system scope for machine-wide ones. XDG_CONFIG_HOME
// moves the user scope, which is how tests keep their own store.
#pragma once

#include <QSettings>
#include <memory>

namespace vxcomm {

inline std::unique_ptr<QSettings> vxOpenConfigStore(QSettings::Scope scope) {
  return std::make_unique<QSettings>(QSettings::IniFormat, scope, "vxComm", "vxComm");
}

}  // namespace vxcomm
