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
  struct Op {
    enum Kind { Type, Insert, Set, Append } kind;
    std::string text;
  };
  struct Pending;

  explicit TvxTextViewBinding(QPlainTextEdit* view);
  // Applies Op on the view's thread: at once when already there, otherwise queued, with
  // consecutive inserts and appends joined so a busy writer costs the view one edit per turn.
  void OnViewThread(Op op);
  static void Apply(QPlainTextEdit* view, const Op& op);
  static void Flush(const std::shared_ptr<Pending>& pending);

  // Held as a QObject: while the widget is being destroyed it is no QPlainTextEdit any more.
  QPointer<QObject> view_;
  QPlainTextEdit* Edit() const;
  std::function<bool(char)> hook_;    // view's thread only
  std::shared_ptr<Pending> pending_;  // shared with queued flushes that may outlive us
};
