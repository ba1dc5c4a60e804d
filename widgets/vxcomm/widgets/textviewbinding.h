/// @file
/// Binds the core's text-view interface to a Qt text widget: a QPlainTextEdit, a QTextEdit
/// or a QLineEdit.
///
/// A QLineEdit shows one line, the current one: a line break (CR or LF, received or typed
/// by TypeChar) starts it afresh, and a line longer than the edit's maxLength keeps its
/// newest characters.
///
/// Thread: the operations may be called from any thread; off the view's thread they are
/// queued to it (never blocking, so no thread waits for the GUI). The key hook runs on the
/// view's thread, from an event filter that sees key presses before the view; what it
/// throws is shown by the UI services' exception display and the key is swallowed.
///
/// As a terminal screen (SetTerminalEmulation) the view shows received bytes through a
/// TvxTerminalScreen at the end of its text, whatever the caret: the caret follows the
/// terminal's cursor unless the user holds a selection, which stays. Text changed by anyone
/// else (the user, SetText) starts the screen afresh on the last line. Typed characters go to
/// the key hook encoded, Tab and Shift+Tab are sent (Tab and ESC [ Z), and Ctrl+Tab and
/// Ctrl+Shift+Tab move the focus on and back instead.
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>

#include "vxcomm/rtl/textview.h"

class QKeyEvent;
class QWidget;

namespace vxcomm {

/// The text-view interface over a Qt text widget. The binding does not own the widget; a
/// widget destroyed first makes every operation do nothing.
///
/// **Threads.** The operations may be called from any thread; off the view's thread they are
/// queued to it, never blocking. Bind, the destructor and the key hook belong to the view's
/// thread. **Failures.** Bind gives null for a widget it cannot show text in; what the key hook
/// throws is shown by the UI services' exception display and the key is swallowed.
class VXCOMMWIDGETS_EXPORT TvxTextViewBinding : public QObject, public TvxTextView {
  Q_OBJECT

 public:
  /// A binding to View, owned by the caller; null unless View is a QPlainTextEdit, a QTextEdit or a
  /// QLineEdit.
  static std::unique_ptr<TvxTextViewBinding> Bind(QObject* view);
  /// True when Bind takes View.
  static bool CanBind(QObject* view);
  /// Drops the binding and its key hook; the widget stays.
  ~TvxTextViewBinding() override;

  /// As TvxTextView::TypeChar; from any thread.
  void TypeChar(char ch) override;
  /// As TvxTextView::InsertText; from any thread.
  void InsertText(const std::string& text) override;
  /// As TvxTextView::SetText; from any thread.
  void SetText(const std::string& text) override;
  /// As TvxTextView::AppendText; from any thread.
  void AppendText(const std::string& text) override;
  /// As TvxTextView::SetLocalText; from any thread.
  void SetLocalText(bool value) override { local_text_ = value; }
  /// A Tab goes to the hook only where it does not move the focus (a multi-line view
  /// without tabChangesFocus), or always on a terminal screen.
  void SetKeyHook(std::function<bool(char)> hook) override;
  /// As TvxTextView::SetTerminalEmulation; from any thread.
  void SetTerminalEmulation(bool enabled, TTerminalEncoding encoding) override;
  /// As TvxTextView::WriteTerminal; from any thread.
  void WriteTerminal(const std::string& bytes) override;

 protected:
  /// Gives the key presses of the view to the key hook first.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Op {
    enum Kind { Type, Insert, Set, Append, Terminal, Emulate } kind;
    std::string text;
    bool local = false;                     ///< text in the local 8-bit encoding, not Latin-1
    bool emulate = false;                   ///< Emulate: on or off
    TTerminalEncoding encoding = teLatin1;  ///< Emulate: the encoding
  };
  struct Pending;

  explicit TvxTextViewBinding(QWidget* view);
  /// Applies Op on the view's thread: at once when already there, otherwise queued, with
  /// consecutive inserts and appends joined so a busy writer costs the view one edit per turn.
  void OnViewThread(Op op);
  /// Applies Op to the view, whichever of the bound kinds it is; nothing once it is gone.
  static void Apply(Pending& pending, const Op& op);
  static void Flush(const std::shared_ptr<Pending>& pending);
  /// True when a Tab key in View moves the focus instead of typing.
  bool TabMovesFocus() const;
  /// A key press on the terminal screen: sent encoded, Ctrl+Tab moving the focus.
  bool TerminalKey(const QKeyEvent& key);
  /// Gives Bytes to the hook, one call each; the first call's answer counts.
  bool ToHook(const std::string& bytes);

  /// Held as a QObject: while the widget is being destroyed it is no text widget any more.
  QPointer<QObject> view_;
  std::function<bool(char)> hook_;       ///< view's thread only
  std::atomic<bool> local_text_{false};  ///< set from any thread, read as each op is made
  std::shared_ptr<Pending> pending_;     ///< shared with queued flushes that may outlive us
};

}  // namespace vxcomm
