#include "vxcomm/widgets/widgetuiservices.h"

#include <QApplication>
#include <QMessageBox>

#include "vxcomm/rtl/sysutils.h"
#include "vxcomm/widgets/linesettingsdialog.h"
#include "vxcomm/widgets/textviewbinding.h"

namespace vxcomm {

namespace {
// The messages name files by the bytes of their names, which are in the local encoding.
QString Local(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

void TvxWidgetUIServices::ShowError(const std::string& text, const std::string& caption) {
  QMessageBox::critical(QApplication::activeWindow(), Local(caption), Local(text));
}

void TvxWidgetUIServices::ShowMessage(const std::string& text) {
  QMessageBox::information(QApplication::activeWindow(), QApplication::applicationName(),
                           Local(text));
}

void TvxWidgetUIServices::ShowException(const std::exception& error) {
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                        Local(error.what()));
}

bool TvxWidgetUIServices::EditLineSettings(const std::string& device, TvxLineSettings& settings) {
  TvxLineSettingsDialog dialog(device, settings, QApplication::activeWindow());
  if (dialog.exec() != QDialog::Accepted) return false;
  settings = dialog.Settings();
  return true;
}

std::unique_ptr<TvxTextView> TvxWidgetUIServices::BindTextView(QObject* view) {
  return TvxTextViewBinding::Bind(view);
}

void TvxWidgetUIServices::CheckTextView(QObject* view) {
  if (!view || TvxTextViewBinding::CanBind(view)) return;
  throw Exception("A " + std::string(view->metaObject()->className()) + " (\"" +
                  view->objectName().toStdString() +
                  "\") cannot show text: a terminal is a QPlainTextEdit, a QTextEdit or a "
                  "QLineEdit.");
}

}  // namespace vxcomm
