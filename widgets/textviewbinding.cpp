#include "textviewbinding.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QThread>

#include "rtl/mainthread.h"

std::unique_ptr<TvxTextViewBinding> TvxTextViewBinding::Bind(QObject* view) {
  auto* edit = qobject_cast<QPlainTextEdit*>(view);
  if (!edit) return nullptr;
  return std::unique_ptr<TvxTextViewBinding>(new TvxTextViewBinding(edit));
}

TvxTextViewBinding::TvxTextViewBinding(QPlainTextEdit* view) : view_(view) {
  view->installEventFilter(this);
}

TvxTextViewBinding::~TvxTextViewBinding() {
  if (view_ && QThread::currentThread() == view_->thread()) view_->removeEventFilter(this);
}

QPlainTextEdit* TvxTextViewBinding::Edit() const {
  return qobject_cast<QPlainTextEdit*>(view_.data());
}

void TvxTextViewBinding::OnViewThread(std::function<void(QPlainTextEdit*)> fn) {
  if (!view_) return;
  if (QThread::currentThread() == view_->thread()) {
    if (QPlainTextEdit* edit = Edit()) fn(edit);
    return;
  }
  // Views live on the main thread; the hand-over goes through the library's main-thread queue.
  QPointer<QObject> view = view_;
  vxPostToMainThread([view, fn] {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(view.data())) fn(edit);
  });
}

void TvxTextViewBinding::TypeChar(char ch) {
  OnViewThread([ch](QPlainTextEdit* view) {
    QTextCursor cursor = view->textCursor();
    if (ch == '\b')
      cursor.deletePreviousChar();
    else if (ch == '\r')
      cursor.insertBlock();
    else if (ch != '\0')
      cursor.insertText(QString(QChar(static_cast<unsigned char>(ch))));
    view->setTextCursor(cursor);
  });
}

void TvxTextViewBinding::InsertText(const std::string& text) {
  OnViewThread([text](QPlainTextEdit* view) {
    QTextCursor cursor = view->textCursor();
    cursor.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    view->setTextCursor(cursor);
  });
}

void TvxTextViewBinding::SetText(const std::string& text) {
  OnViewThread([text](QPlainTextEdit* view) {
    view->setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    view->moveCursor(QTextCursor::End);
  });
}

void TvxTextViewBinding::AppendText(const std::string& text) {
  OnViewThread([text](QPlainTextEdit* view) {
    QScrollBar* bar = view->verticalScrollBar();
    bool showsEnd = bar->value() == bar->maximum();
    // A cursor of its own leaves the user's caret and selection alone.
    QTextCursor end(view->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    if (showsEnd) bar->setValue(bar->maximum());
  });
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
