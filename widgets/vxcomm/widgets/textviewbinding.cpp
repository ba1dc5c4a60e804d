#include "vxcomm/widgets/textviewbinding.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <mutex>
#include <vector>

#include "vxcomm/rtl/mainthread.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/widgets/terminalscreen.h"

namespace vxcomm {

struct TvxTextViewBinding::Pending {
  QPointer<QObject> view;  // read on the view's thread only
  std::mutex mutex;        // guards ops and posted
  std::vector<Op> ops;
  bool posted = false;
  // The terminal screen, while the view is one; the view's thread only.
  std::unique_ptr<TvxTerminalScreen> screen;
  TTerminalEncoding encoding = teLatin1;
  int revision = -1;  ///< the document's revision after the screen's last edit
  QString lineShown;  ///< a line edit's text after the screen's last edit
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

QString FromUcs4(const std::u32string& line) {
  return QString::fromUcs4(line.data(), static_cast<qsizetype>(line.size()));
}

// Received bytes on the terminal screen over a document view: the end of the text is replaced
// with the screen's, through a cursor of its own, so the user's selection stays.
template <typename Edit>
void ShowOnScreen(Edit* view, TvxTerminalScreen& screen, int& revision, const std::string& bytes) {
  QTextDocument* document = view->document();
  if (document->revision() != revision) screen.Reset(document->lastBlock().text().toStdU32String());
  const TvxScreenEdit edit = screen.Feed(bytes);
  QScrollBar* bar = view->verticalScrollBar();
  const bool showsEnd = bar->value() == bar->maximum();
  QTextCursor caret = view->textCursor();
  if (edit.ReplacedLines > 0) {
    QStringList lines;
    for (const std::u32string& line : edit.Lines) lines << FromUcs4(line);
    const int first = std::max(0, document->blockCount() - edit.ReplacedLines);
    const QTextBlock start = document->findBlockByNumber(first);
    QTextCursor change(document);
    change.setPosition(start.position() + std::min(edit.KeptColumns, start.length() - 1));
    change.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    change.insertText(lines.join('\n'));
  }
  if (!caret.hasSelection()) {
    const QTextBlock block =
        document->findBlockByNumber(std::max(0, document->blockCount() - 1 - edit.CursorLine));
    caret.setPosition(block.position() + std::min(edit.CursorColumn, block.length() - 1));
    view->setTextCursor(caret);
  }
  if (showsEnd) bar->setValue(bar->maximum());
  revision = document->revision();
  if (edit.Bell) QApplication::beep();
}

// A line edit as terminal screen shows the cursor's line.
void ShowOnScreen(QLineEdit* view, TvxTerminalScreen& screen, QString& shown,
                  const std::string& bytes) {
  if (view->text() != shown) screen.Reset(view->text().toStdU32String());
  const TvxScreenEdit edit = screen.Feed(bytes);
  shown = FromUcs4(screen.CursorLine());
  view->setText(shown);
  shown = view->text();  // as far as maxLength lets it
  view->setCursorPosition(std::min(edit.CursorColumn, static_cast<int>(shown.size())));
  if (edit.Bell) QApplication::beep();
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
    Apply(*pending_, op);
    return;
  }
  std::lock_guard lock(pending_->mutex);
  auto& ops = pending_->ops;
  if (!ops.empty() && ops.back().kind == op.kind && ops.back().local == op.local &&
      (op.kind == Op::Insert || op.kind == Op::Append || op.kind == Op::Terminal))
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
  for (const Op& op : ops) Apply(*pending, op);
}

void TvxTextViewBinding::Apply(Pending& pending, const Op& op) {
  QObject* view = pending.view.data();
  if (op.kind == Op::Emulate) {
    pending.screen = op.emulate ? std::make_unique<TvxTerminalScreen>(op.encoding) : nullptr;
    pending.encoding = op.encoding;
    pending.revision = -1;
    pending.lineShown.clear();
    return;
  }
  if (op.kind == Op::Terminal && pending.screen) {
    if (auto* plain = qobject_cast<QPlainTextEdit*>(view))
      ShowOnScreen(plain, *pending.screen, pending.revision, op.text);
    else if (auto* rich = qobject_cast<QTextEdit*>(view))
      ShowOnScreen(rich, *pending.screen, pending.revision, op.text);
    else if (auto* line = qobject_cast<QLineEdit*>(view))
      ShowOnScreen(line, *pending.screen, pending.lineShown, op.text);
    return;
  }
  const int kind = op.kind == Op::Terminal ? Op::Insert : op.kind;
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view))
    ApplyToDocument(plain, kind, op.text, op.local);
  else if (auto* rich = qobject_cast<QTextEdit*>(view))
    ApplyToDocument(rich, kind, op.text, op.local);
  else if (auto* line = qobject_cast<QLineEdit*>(view))
    ApplyToLine(line, kind, op.text, op.local);
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

void TvxTextViewBinding::WriteTerminal(const std::string& bytes) {
  OnViewThread({Op::Terminal, bytes});
}

void TvxTextViewBinding::SetTerminalEmulation(bool enabled, TTerminalEncoding encoding) {
  OnViewThread({Op::Emulate, {}, false, enabled, encoding});
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
  if (pending_->screen) return TerminalKey(*key);
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
  return ToHook(std::string(1, ch));
}

namespace {

// The widget Ctrl+Tab (Forward) or Ctrl+Shift+Tab goes to from View: the next one in the
// focus chain that Tab would reach.
QWidget* NextInTabOrder(QWidget* view, bool forward) {
  QWidget* window = view->window();
  QWidget* next = view;
  do {
    next = forward ? next->nextInFocusChain() : next->previousInFocusChain();
    if ((next->focusPolicy() & Qt::TabFocus) && !next->focusProxy() && next->isEnabled() &&
        next->isVisibleTo(window) && next->window() == window)
      return next;
  } while (next != view);
  return view;
}

}  // namespace

bool TvxTextViewBinding::TerminalKey(const QKeyEvent& key) {
  const bool shift = key.modifiers() & Qt::ShiftModifier;
  std::string bytes;
  switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
      const bool back = shift || key.key() == Qt::Key_Backtab;
      if (key.modifiers() & Qt::ControlModifier) {
        auto* view = static_cast<QWidget*>(view_.data());
        NextInTabOrder(view, !back)->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
      }
      bytes = back ? "\x1b[Z" : "\t";
      break;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      bytes = "\r";
      break;
    case Qt::Key_Backspace:
      bytes = "\b";
      break;
    case Qt::Key_Escape:
      bytes = "\x1b";
      break;
    default: {
      const QString text = key.text();
      if (text.isEmpty()) return false;  // a key without a character: the view's own
      if (pending_->encoding == teUtf8) {
        bytes = text.toUtf8().toStdString();
      } else {
        for (QChar ch : text) {
          if (ch.unicode() > 255) {
            // No Latin-1 byte for it: not sent and not shown, but not silently either.
            QApplication::beep();
            return true;
          }
          bytes += static_cast<char>(ch.unicode());
        }
      }
    }
  }
  return ToHook(bytes);
}

bool TvxTextViewBinding::ToHook(const std::string& bytes) {
  // A key event is no place for an exception to leave: it is shown like one that leaves
  // any other event, and the key is taken as handled.
  try {
    bool swallowed = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool taken = hook_(bytes[i]);
      if (i == 0) swallowed = taken;
    }
    return swallowed;
  } catch (...) {
    ShowCurrentException();
    return true;
  }
}

}  // namespace vxcomm
