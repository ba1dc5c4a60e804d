/// @file
/// A text view as the core sees it: the terminal pane and the log pane are reached only
/// through this interface, which the widgets layer implements over a Qt text widget.
///
/// Thread: the operations may be called from any thread; an implementation hands them to
/// the view's own thread and never touches the view from another.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vxcomm {

/// How a terminal pane's characters travel as bytes.
enum TTerminalEncoding : std::uint8_t { teLatin1, teUtf8 };

/// A binding to a text view (see the file description); made by the installed UI services.
class VXCOMM_EXPORT TvxTextView {
 public:
  /// Drops the binding; the view itself stays.
  virtual ~TvxTextView() = default;
  /// Acts as if the key for Ch were pressed: backspace erases, carriage return breaks the
  /// line, any other byte is typed (bytes 128 to 255 as Latin-1 characters).
  virtual void TypeChar(char ch) = 0;
  /// Inserts Text at the caret, not undoable.
  virtual void InsertText(const std::string& text) = 0;
  /// Replaces the whole text.
  virtual void SetText(const std::string& text) = 0;
  /// Adds Text after the end of the whole text, wherever the caret is, bytes as Latin-1;
  /// CR LF, CR and LF each break the line. A view that showed its end keeps showing it.
  /// The default inserts at the caret, for views whose caret never leaves the end.
  virtual void AppendText(const std::string& text) { InsertText(text); }
  /// Whether the bytes given to the view are text in the local 8-bit encoding (a log's
  /// entries, with file names as the file system has them) instead of one Latin-1 character
  /// per byte (a line's bytes; the default). Applies to the text given from then on.
  virtual void SetLocalText(bool value) = 0;
  /// Installs a hook that sees every typed character first; returning true swallows the
  /// key. An empty hook removes it. Runs on the view's thread.
  virtual void SetKeyHook(std::function<bool(char)> hook) = 0;
  /// Makes the view a terminal screen, or (Enabled false, the default) a plain view again.
  /// As a screen, WriteTerminal shows received bytes decoded in Encoding at the terminal's
  /// cursor at the end of the text, control characters and escape sequences acting as on a
  /// terminal; typed characters reach the key hook encoded in Encoding (one call per byte),
  /// Tab included. A view that cannot be a screen ignores it.
  virtual void SetTerminalEmulation(bool /*enabled*/, TTerminalEncoding /*encoding*/) {}
  /// Shows received bytes on the terminal screen; a plain view inserts them at the caret.
  virtual void WriteTerminal(const std::string& bytes) { InsertText(bytes); }
};

}  // namespace vxcomm
