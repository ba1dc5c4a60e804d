#include "vxcomm/platform/configstore.h"

#include <QByteArray>
#include <QSettings>
#include <stdexcept>

#include "vxcomm/platform/configscope.h"

namespace vxcomm {

namespace {
QSettings::Scope ScopeOf(HKEY root) {
  if (root == HKEY_CURRENT_USER) return QSettings::UserScope;
  if (root == HKEY_LOCAL_MACHINE) return QSettings::SystemScope;
  throw std::invalid_argument("Unknown root key of the configuration store");
}

QString KeyOf(const std::string& keyPath, const std::string& valueName) {
  QString path = QString::fromLocal8Bit(keyPath.c_str()).replace('\\', '/');
  while (path.startsWith('/')) path.remove(0, 1);
  while (path.endsWith('/')) path.chop(1);
  QString name = QString::fromLocal8Bit(valueName.c_str());
  return path.isEmpty() ? name : path + '/' + name;
}
}  // namespace

TvxConfigValue vxReadConfigValue(HKEY root, const std::string& keyPath,
                                 const std::string& valueName) {
  auto settings = vxOpenConfigStore(ScopeOf(root));
  TvxConfigValue result;
  QVariant value = settings->value(KeyOf(keyPath, valueName));
  if (!value.isValid()) return result;
  if (value.typeId() != QMetaType::QByteArray) {
    result.kind = TvxConfigValue::NotBinary;
    return result;
  }
  QByteArray bytes = value.toByteArray();
  result.kind = TvxConfigValue::Binary;
  result.data.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return result;
}

void vxWriteConfigBinary(HKEY root, const std::string& keyPath, const std::string& valueName,
                         const std::string& data) {
  auto settings = vxOpenConfigStore(ScopeOf(root));
  settings->setValue(KeyOf(keyPath, valueName),
                     QByteArray(data.data(), static_cast<qsizetype>(data.size())));
  settings->sync();
  if (settings->status() != QSettings::NoError || !settings->isWritable())
    throw std::runtime_error("The configuration store cannot be written");
}

}  // namespace vxcomm
