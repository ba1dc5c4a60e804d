// The UI services over Qt Widgets: real message boxes, the line-settings dialog and text
// view bindings. A program installs it once after creating its QApplication.
#pragma once

#include "vxcommwidgets_export.h"

#include "rtl/uiservices.h"

class VXCOMMWIDGETS_EXPORT TvxWidgetUIServices : public TvxUIServices {
 public:
  void ShowError(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::exception& error) override;
  // The modal line-settings dialog over the active window.
  bool EditLineSettings(const std::string& device, TvxLineSettings& settings) override;
  // A QPlainTextEdit, a QTextEdit or a QLineEdit.
  std::unique_ptr<TvxTextView> BindTextView(QObject* view) override;
  // Refuses any object but a QPlainTextEdit, a QTextEdit or a QLineEdit.
  void CheckTextView(QObject* view) override;
};
