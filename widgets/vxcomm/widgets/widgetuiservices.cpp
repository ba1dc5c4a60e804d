#include "vxcomm/widgets/widgetuiservices.h"

#include <QApplication>
#include <QMessageBox>

#include "vxcomm/rtl/sysutils.h"
#include "vxcomm/widgets/linesettingsdialog.h"
#include "vxcomm/widgets/textviewbinding.h"

namespace vxcomm {

namespace {
QString Latin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
}  // namespace

void TvxWidgetUIServices::ShowError(const std::string& text, const std::string& caption) {
  QMessageBox::critical(QApplication::activeWindow(), Latin1(caption), Latin1(text));
}

void TvxWidgetUIServices::ShowMessage(const std::string& text) {
  QMessageBox::information(QApplication::activeWindow(), QApplication::applicationName(),
                           Latin1(text));
}

void TvxWidgetUIServices::ShowException(const std::exception& error) {
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                        Latin1(error.what()));
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
