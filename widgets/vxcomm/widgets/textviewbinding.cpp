#include "vxcomm/widgets/textviewbinding.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <QThread>
#include <mutex>
#include <vector>

#include "vxcomm/rtl/mainthread.h"
#include "vxcomm/rtl/uiservices.h"

namespace vxcomm {

struct TvxTextViewBinding::Pending {
  QPointer<QObject> view;  // read on the view's thread only
  std::mutex mutex;        // guards ops and posted
  std::vector<Op> ops;
  bool posted = false;
};

namespace {

QString Decoded(const std::string& text, bool local) {
  const auto size = static_cast<qsizetype>(text.size());
  return local ? QString::fromLocal8Bit(text.data(), size) : QString::fromLatin1(text.data(), size);
}

// QPlainTextEdit and QTextEdit share the operations used here without a common base.
template <typename Edit>
void ApplyToDocument(Edit* view, int kind, const std::string& bytes, bool local) {
  const QString text = Decoded(bytes, local);
  switch (kind) {
    case 0: {  // type
      const char ch = bytes[0];
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
    case 1: {  // insert
      QTextCursor cursor = view->textCursor();
      cursor.insertText(text);
      view->setTextCursor(cursor);
      break;
    }
    case 2:  // set
      view->setPlainText(text);
      view->moveCursor(QTextCursor::End);
      break;
    default: {  // append
      QScrollBar* bar = view->verticalScrollBar();
      bool showsEnd = bar->value() == bar->maximum();
      // A cursor of its own leaves the user's caret and selection alone.
      QTextCursor end(view->document());
      end.movePosition(QTextCursor::End);
      end.insertText(text);
      if (showsEnd) bar->setValue(bar->maximum());
    }
  }
}

// The line a QLineEdit shows after Text is put at Pos of Line: what follows the last line
// break, and no more than Max characters (the newest). Pos becomes the caret after Text.
QString PutIntoLine(const QString& line, qsizetype& pos, const QString& text, qsizetype max) {
  QString result;
  const qsizetype lastBreak = std::max(text.lastIndexOf('\r'), text.lastIndexOf('\n'));
  if (lastBreak >= 0) {
    result = text.mid(lastBreak + 1);
    pos = result.size();
  } else {
    result = line.left(pos) + text + line.mid(pos);
    pos += text.size();
  }
  if (max > 0 && result.size() > max) {
    const qsizetype cut = result.size() - max;
    result.remove(0, cut);
    pos = std::max<qsizetype>(0, pos - cut);
  }
  return result;
}

void ApplyToLine(QLineEdit* view, int kind, const std::string& bytes, bool local) {
  QString text = Decoded(bytes, local);
  text.remove(QChar(0));
  qsizetype pos = view->cursorPosition();
  QString line;
  switch (kind) {
    case 0:  // type
      if (bytes[0] == '\b') {
        view->backspace();
        return;
      }
      line = PutIntoLine(view->text(), pos, text, view->maxLength());
      break;
    case 1:  // insert
      line = PutIntoLine(view->text(), pos, text, view->maxLength());
      break;
    case 2:  // set
      pos = 0;
      line = PutIntoLine(QString(), pos, text, view->maxLength());
      break;
    default: {  // append: the caret stays where it was
      const qsizetype caret = pos;
      pos = view->text().size();
      line = PutIntoLine(view->text(), pos, text, view->maxLength());
      const qsizetype kept = std::min(caret, line.size());
      view->setText(line);
      view->setCursorPosition(static_cast<int>(kept));
      return;
    }
  }
  view->setText(line);
  view->setCursorPosition(static_cast<int>(pos));
}

}  // namespace

bool TvxTextViewBinding::CanBind(QObject* view) {
  return qobject_cast<QPlainTextEdit*>(view) || qobject_cast<QTextEdit*>(view) ||
         qobject_cast<QLineEdit*>(view);
}

std::unique_ptr<TvxTextViewBinding> TvxTextViewBinding::Bind(QObject* view) {
  if (!CanBind(view)) return nullptr;
  return std::unique_ptr<TvxTextViewBinding>(new TvxTextViewBinding(static_cast<QWidget*>(view)));
}

TvxTextViewBinding::TvxTextViewBinding(QWidget* view)
    : view_(view), pending_(std::make_shared<Pending>()) {
  pending_->view = view;
  view->installEventFilter(this);
}

TvxTextViewBinding::~TvxTextViewBinding() {
  if (view_ && QThread::currentThread() == view_->thread()) view_->removeEventFilter(this);
}

void TvxTextViewBinding::OnViewThread(Op op) {
  if (!view_) return;
  if (QThread::currentThread() == view_->thread()) {
    Apply(view_.data(), op);
    return;
  }
  std::lock_guard lock(pending_->mutex);
  auto& ops = pending_->ops;
  if (!ops.empty() && ops.back().kind == op.kind && ops.back().local == op.local &&
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
  for (const Op& op : ops) Apply(pending->view.data(), op);
}

void TvxTextViewBinding::Apply(QObject* view, const Op& op) {
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view))
    ApplyToDocument(plain, op.kind, op.text, op.local);
  else if (auto* rich = qobject_cast<QTextEdit*>(view))
    ApplyToDocument(rich, op.kind, op.text, op.local);
  else if (auto* line = qobject_cast<QLineEdit*>(view))
    ApplyToLine(line, op.kind, op.text, op.local);
}

void TvxTextViewBinding::TypeChar(char ch) {
  OnViewThread({Op::Type, std::string(1, ch), local_text_});
}

void TvxTextViewBinding::InsertText(const std::string& text) {
  OnViewThread({Op::Insert, text, local_text_});
}

void TvxTextViewBinding::SetText(const std::string& text) {
  OnViewThread({Op::Set, text, local_text_});
}

void TvxTextViewBinding::AppendText(const std::string& text) {
  OnViewThread({Op::Append, text, local_text_});
}

void TvxTextViewBinding::SetKeyHook(std::function<bool(char)> hook) {
  hook_ = std::move(hook);
}

bool TvxTextViewBinding::TabMovesFocus() const {
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view_.data())) return plain->tabChangesFocus();
  if (auto* rich = qobject_cast<QTextEdit*>(view_.data())) return rich->tabChangesFocus();
  return true;
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
    case Qt::Key_Backtab:
      if (TabMovesFocus() || key->key() == Qt::Key_Backtab) return false;
      ch = '\t';
      break;
    default: {
      QString text = key->text();
      if (text.size() != 1 || text[0].unicode() > 255) return false;
      ch = static_cast<char>(text[0].unicode());
    }
  }
  // A key event is no place for an exception to leave: it is shown like one that leaves
  // any other event, and the key is taken as handled.
  try {
    return hook_(ch);
  } catch (...) {
    ShowCurrentException();
    return true;
  }
}

}  // namespace vxcomm
