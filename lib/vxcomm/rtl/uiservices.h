/// @file
/// What the core needs from a user interface without depending on widgets: message boxes,
/// the standard exception display, the line-settings dialog and text-view bindings.
///
/// The default is headless (a line on standard error, dialogs cancelled, no text views);
/// the widgets layer installs the real one, and tests install one that answers for the user.
/// Thread: called on the main thread only.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <exception>
#include <memory>
#include <string>

class QObject;

namespace vxcomm {

class TvxTextView;

/// The line settings the settings dialog edits; values as the serial component keeps them.
struct VXCOMM_EXPORT TvxLineSettings {
  unsigned BaudRate = 9600;
  unsigned DataBits = 8;
  int Parity = 0;    ///< none, odd, even, mark, space
  int StopBits = 0;  ///< one, one and a half, two
  int Flow = 0;      ///< none, hardware (RTS/CTS), software (Xon/Xoff)
};

/// The user-interface services the core calls; derive and install one with SetUIServices. Thread:
/// main thread only.
class VXCOMM_EXPORT TvxUIServices {
 public:
  /// Destroys the services; uninstall them first.
  virtual ~TvxUIServices() = default;
  /// A modal message box with the error icon.
  virtual void ShowError(const std::string& text, const std::string& caption);
  /// A modal message box with the information icon.
  virtual void ShowMessage(const std::string& text);
  /// The application's standard display of an exception that was not raised.
  virtual void ShowException(const std::exception& error);
  /// The line-settings dialog for Device; true when the user accepted Settings.
  virtual bool EditLineSettings(const std::string& device, TvxLineSettings& settings);
  /// A binding to View when it is a text view this interface knows, otherwise nullptr.
  virtual std::unique_ptr<TvxTextView> BindTextView(QObject* view);
  /// Throws an Exception that names View's class when View is of a kind this interface
  /// cannot show text in. The headless default refuses nothing: it has no screen.
  virtual void CheckTextView(QObject* view);
};

/// The installed services; never null.
VXCOMM_EXPORT TvxUIServices& UIServices();
/// Installs Services (not owned) or, with nullptr, the headless default again.
VXCOMM_EXPORT void SetUIServices(TvxUIServices* services);
/// Inside a catch block: shows the exception being handled with ShowException, as the
/// application's standard display does for an exception that leaves an event; one that is
/// no std::exception shows as "Unknown exception". Never throws.
VXCOMM_EXPORT void ShowCurrentException();

}  // namespace vxcomm
