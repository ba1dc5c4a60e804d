/// @file
/// The UI services over Qt Widgets: real message boxes, the line-settings dialog and text
/// view bindings. A program installs it once after creating its QApplication.
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include "vxcomm/rtl/uiservices.h"

namespace vxcomm {

/// The UI services over Qt Widgets: install an instance (which the program keeps alive) with
/// SetUIServices after creating the QApplication.
///
/// **Threads.** GUI thread only, every member. **Failures.** A view it cannot bind gives no
/// binding, and CheckTextView throws an Exception naming the widget's class and name; the
/// message boxes are modal and return the user's choice.
class VXCOMMWIDGETS_EXPORT TvxWidgetUIServices : public TvxUIServices {
 public:
  /// A modal error message box with Caption over the active window.
  void ShowError(const std::string& text, const std::string& caption) override;
  /// A modal information message box over the active window, captioned with the application's name.
  void ShowMessage(const std::string& text) override;
  /// A modal error message box with the exception's message over the active window.
  void ShowException(const std::exception& error) override;
  /// The modal line-settings dialog over the active window.
  bool EditLineSettings(const std::string& device, TvxLineSettings& settings) override;
  /// A binding owned by the caller for a QPlainTextEdit, a QTextEdit or a QLineEdit; null for any
  /// other object.
  std::unique_ptr<TvxTextView> BindTextView(QObject* view) override;
  /// Throws Exception, naming the object's class and name, for any object but a QPlainTextEdit, a
  /// QTextEdit or a QLineEdit; null is accepted.
  void CheckTextView(QObject* view) override;
};

}  // namespace vxcomm
