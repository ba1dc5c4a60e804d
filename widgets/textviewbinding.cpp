#include "textviewbinding.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QThread>
#include <mutex>
#include <vector>

#include "rtl/mainthread.h"

struct TvxTextViewBinding::Pending {
  QPointer<QObject> view;  // read on the view's thread only
  std::mutex mutex;        // guards ops and posted
  std::vector<Op> ops;
  bool posted = false;
};

std::unique_ptr<TvxTextViewBinding> TvxTextViewBinding::Bind(QObject* view) {
  auto* edit = qobject_cast<QPlainTextEdit*>(view);
  if (!edit) return nullptr;
  return std::unique_ptr<TvxTextViewBinding>(new TvxTextViewBinding(edit));
}

TvxTextViewBinding::TvxTextViewBinding(QPlainTextEdit* view)
    : view_(view), pending_(std::make_shared<Pending>()) {
  pending_->view = view;
  view->installEventFilter(this);
}

TvxTextViewBinding::~TvxTextViewBinding() {
  if (view_ && QThread::currentThread() == view_->thread()) view_->removeEventFilter(this);
}

QPlainTextEdit* TvxTextViewBinding::Edit() const {
  return qobject_cast<QPlainTextEdit*>(view_.data());
}

void TvxTextViewBinding::OnViewThread(Op op) {
  if (!view_) return;
  if (QThread::currentThread() == view_->thread()) {
    if (QPlainTextEdit* edit = Edit()) Apply(edit, op);
    return;
  }
  std::lock_guard lock(pending_->mutex);
  auto& ops = pending_->ops;
  if (!ops.empty() && ops.back().kind == op.kind &&
      (op.kind == Op::Insert || op.kind == Op::Append))
    ops.back().text += op.text;
  else
    ops.push_back(std::move(op));
  if (pending_->posted) return;
  pending_->posted = true;
  // Views live on the main thread; the hand-over goes through the library's main-thread queue.
  vxPostToMainThread([pending = pending_] { Flush(pending); });
}

void TvxTextViewBinding::Flush(const std::shared_ptr<Pending>& pending) {
  std::vector<Op> ops;
  {
    std::lock_guard lock(pending->mutex);
    ops.swap(pending->ops);
    pending->posted = false;
  }
  for (const Op& op : ops)
    if (auto* edit = qobject_cast<QPlainTextEdit*>(pending->view.data())) Apply(edit, op);
}

void TvxTextViewBinding::Apply(QPlainTextEdit* view, const Op& op) {
  const QString text = QString::fromLatin1(op.text.data(), static_cast<qsizetype>(op.text.size()));
  switch (op.kind) {
    case Op::Type: {
      const char ch = op.text[0];
      QTextCursor cursor = view->textCursor();
      if (ch == '\b')
        cursor.deletePreviousChar();
      else if (ch == '\r')
        cursor.insertBlock();
      else if (ch != '\0')
        cursor.insertText(text);
      view->setTextCursor(cursor);
      break;
    }
    case Op::Insert: {
      QTextCursor cursor = view->textCursor();
      cursor.insertText(text);
      view->setTextCursor(cursor);
      break;
    }
    case Op::Set:
      view->setPlainText(text);
      view->moveCursor(QTextCursor::End);
      break;
    case Op::Append: {
      QScrollBar* bar = view->verticalScrollBar();
      bool showsEnd = bar->value() == bar->maximum();
      // A cursor of its own leaves the user's caret and selection alone.
      QTextCursor end(view->document());
      end.movePosition(QTextCursor::End);
      end.insertText(text);
      if (showsEnd) bar->setValue(bar->maximum());
      break;
    }
  }
}

void TvxTextViewBinding::TypeChar(char ch) {
  OnViewThread({Op::Type, std::string(1, ch)});
}

void TvxTextViewBinding::InsertText(const std::string& text) {
  OnViewThread({Op::Insert, text});
}

void TvxTextViewBinding::SetText(const std::string& text) {
  OnViewThread({Op::Set, text});
}

void TvxTextViewBinding::AppendText(const std::string& text) {
  OnViewThread({Op::Append, text});
}

void TvxTextViewBinding::SetKeyHook(std::function<bool(char)> hook) {
  hook_ = std::move(hook);
}

bool TvxTextViewBinding::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_ || event->type() != QEvent::KeyPress || !hook_) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  char ch;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      ch = '\r';
      break;
    case Qt::Key_Backspace:
      ch = '\b';
      break;
    case Qt::Key_Escape:
      ch = 27;
      break;
    case Qt::Key_Tab:
      ch = '\t';
      break;
    default: {
      QString text = key->text();
      if (text.size() != 1 || text[0].unicode() > 255) return false;
      ch = static_cast<char>(text[0].unicode());
    }
  }
  return hook_(ch);
}
