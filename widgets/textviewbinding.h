// Binds the core's text-view interface to a QPlainTextEdit or QTextEdit.
//
// Thread: the operations may be called from any thread; off the view's thread they are
// queued to it (never blocking, so no thread waits for the GUI). The key hook runs on the
// view's thread, from an event filter that sees key presses before the view.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "rtl/textview.h"

class QPlainTextEdit;

class TvxTextViewBinding : public QObject, public TvxTextView {
  Q_OBJECT

 public:
  // Null unless View is a QPlainTextEdit.
  static std::unique_ptr<TvxTextViewBinding> Bind(QObject* view);
  ~TvxTextViewBinding() override;

  void TypeChar(char ch) override;
  void InsertText(const std::string& text) override;
  void SetText(const std::string& text) override;
  void AppendText(const std::string& text) override;
  void SetKeyHook(std::function<bool(char)> hook) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit TvxTextViewBinding(QPlainTextEdit* view);
  // Runs Fn on the view's thread, at once when already there.
  void OnViewThread(std::function<void(QPlainTextEdit*)> fn);

  // Held as a QObject: while the widget is being destroyed it is no QPlainTextEdit any more.
  QPointer<QObject> view_;
  QPlainTextEdit* Edit() const;
  std::function<bool(char)> hook_;  // view's thread only
};
