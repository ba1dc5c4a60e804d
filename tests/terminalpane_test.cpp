// A text view as a terminal's screen (TerminalEmulation): received bytes go to the end of
// the pane whatever the user does with the caret, characters travel in the terminal's
// encoding both ways, Tab is sent and Ctrl+Tab moves on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <memory>

#include "support/ptymedium.h"
#include "support/ptypair.h"
#include "support/testui.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/textviewbinding.h"

namespace {

QString Shown(QWidget* view) {
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) return plain->toPlainText();
  if (auto* rich = qobject_cast<QTextEdit*>(view)) return rich->toPlainText();
  return static_cast<QLineEdit*>(view)->text();
}

// A medium that only records the bytes of the keys it is given to send.
class KeyMedium : public TvxPtyMedium {
 public:
  using TvxPtyMedium::TvxPtyMedium;
  void SendChar(char ch) override { keys += ch; }
  std::string keys;
};

// A key as the window system delivers it: a key code and the text it types.
void Press(QWidget* view, int key, const QString& text, Qt::KeyboardModifiers modifiers = {}) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(view, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(view, &release);
}

// A terminal pane bound directly: its bytes arrive in exactly the events written.
struct Screen {
  explicit Screen(QWidget* view, TTerminalEncoding encoding = teUtf8)
      : binding(TvxTextViewBinding::Bind(view)) {
    binding->SetTerminalEmulation(true, encoding);
  }
  std::unique_ptr<TvxTextViewBinding> binding;
};

}  // namespace

// A component's terminal is a plain view unless told otherwise: bytes go in at the caret,
// one byte one character.
TEST(TerminalPane, APlainViewByDefault) {
  TvxTestUIServices ui;
  QPlainTextEdit view;
  KeyMedium medium;
  EXPECT_FALSE(medium.TerminalEmulation());
  EXPECT_EQ(medium.TerminalEncoding(), teLatin1);
  medium.SetTerminal(&view);
  medium.SetTerminalUsage(tuBoth);
  view.setPlainText("ab");
  QTextCursor caret = view.textCursor();
  caret.setPosition(1);
  view.setTextCursor(caret);
  medium.TerminalWrite("\xc3\xa4", 2);
  EXPECT_EQ(Shown(&view), "a\u00c3\u00a4b");
}

// Received bytes come from the medium's own thread and go to the end of the pane, however
// the user placed the caret in the old output.
TEST(TerminalPane, ReceivedBytesGoToTheEndWhereverTheCaretIs) {
  TvxTestUIServices ui;
  PtyPair pty;
  QPlainTextEdit view;
  TvxPtyMedium medium;
  medium.SetTerminal(&view);
  medium.SetTerminalUsage(tuBoth);
  medium.SetTerminalEmulation(true);
  medium.SetTerminalEncoding(teUtf8);
  medium.SetDevicePath(pty.slavePath());
  medium.SetActive(true);
  ASSERT_TRUE(medium.IsOpen());

  pty.Write("old line\r\nsecond");
  ASSERT_TRUE(WaitUntil([&] { return Shown(&view) == "old line\nsecond"; }, 5000))
      << Shown(&view).toStdString();
  QTextCursor caret = view.textCursor();
  caret.setPosition(3);  // a click inside the old output
  view.setTextCursor(caret);
  pty.Write(" echo\r\nnext \xe2\x82\xac");
  EXPECT_TRUE(WaitUntil([&] { return Shown(&view) == "old line\nsecond echo\nnext \u20ac"; }, 5000))
      << Shown(&view).toStdString();
  EXPECT_EQ(view.textCursor().position(), Shown(&view).size()) << "the caret follows the output";
  medium.SetActive(false);
}

TEST(TerminalPane, TheUsersSelectionStays) {
  TvxTestUIServices ui;
  QPlainTextEdit view;
  Screen screen(&view);
  screen.binding->WriteTerminal("first line\r\nprompt> ");
  QTextCursor selection = view.textCursor();
  selection.setPosition(0);
  selection.setPosition(5, QTextCursor::KeepAnchor);
  view.setTextCursor(selection);
  screen.binding->WriteTerminal("ls\r\nfile");
  EXPECT_EQ(Shown(&view), "first line\nprompt> ls\nfile");
  EXPECT_EQ(view.textCursor().selectedText(), "first");
}

TEST(TerminalPane, ReceivedBytesAreDecodedAcrossEvents) {
  TvxTestUIServices ui;
  for (TTerminalEncoding encoding : {teUtf8, teLatin1}) {
    QPlainTextEdit view;
    Screen screen(&view, encoding);
    if (encoding == teUtf8) {
      screen.binding->WriteTerminal("\xe2\x82\xac \xc3\xa4\xc3\xb6 \xc3");
      EXPECT_EQ(Shown(&view), "\u20ac \u00e4\u00f6 ") << "half a character waits";
      screen.binding->WriteTerminal("\xa4 \xff");
      EXPECT_EQ(Shown(&view), "\u20ac \u00e4\u00f6 \u00e4 \ufffd") << "a bad byte is shown";
    } else {
      screen.binding->WriteTerminal("\xe4\xf6 \xc3\xa4");
      EXPECT_EQ(Shown(&view), "\u00e4\u00f6 \u00c3\u00a4");
    }
  }
}

TEST(TerminalPane, ControlCharactersAndEscapesActAsOnATerminal) {
  TvxTestUIServices ui;
  for (const char* kind : {"QPlainTextEdit", "QTextEdit"}) {
    std::unique_ptr<QWidget> view;
    if (std::string(kind) == "QTextEdit")
      view = std::make_unique<QTextEdit>();
    else
      view = std::make_unique<QPlainTextEdit>();
    Screen screen(view.get());
    screen.binding->WriteTerminal("hello\rJe\r\n\x1b[1;31mred\x1b[0m\a\r\n");
    screen.binding->WriteTerminal("abc\b \b\x1b[A\x1b[D");
    screen.binding->WriteTerminal("\x1b[K");
    EXPECT_EQ(Shown(view.get()), "Jello\nr\nab ") << kind;
  }
}

// Text someone else puts in the pane is kept: the screen goes on from its last line.
TEST(TerminalPane, TextChangedByOthersIsKept) {
  TvxTestUIServices ui;
  QPlainTextEdit view;
  Screen screen(&view);
  screen.binding->WriteTerminal("one\r\ntwo");
  view.setPlainText("set\nby hand");
  screen.binding->WriteTerminal("\r\nthree");
  EXPECT_EQ(Shown(&view), "set\nby hand\nthree");
  screen.binding->SetText("log");
  screen.binding->WriteTerminal("!");
  EXPECT_EQ(Shown(&view), "log!");
}

TEST(TerminalPane, ALineEditShowsTheCursorsLine) {
  TvxTestUIServices ui;
  QLineEdit view;
  Screen screen(&view);
  screen.binding->WriteTerminal("one\r\ntwo");
  EXPECT_EQ(Shown(&view), "two");
  screen.binding->WriteTerminal("\rT\xc3");
  screen.binding->WriteTerminal("\xa4");
  EXPECT_EQ(Shown(&view), "T\u00e4o");
}

TEST(TerminalPane, TypedCharactersGoOutInTheTerminalsEncoding) {
  TvxTestUIServices ui;
  for (TTerminalEncoding encoding : {teUtf8, teLatin1}) {
    QPlainTextEdit view;
    KeyMedium medium;
    medium.SetTerminal(&view);
    medium.SetTerminalUsage(tuSend);
    medium.SetTerminalEncoding(encoding);
    medium.SetTerminalEmulation(true);
    view.setFocus();
    Press(&view, 0x20ac, "\u20ac");
    Press(&view, Qt::Key_Adiaeresis, "\u00e4");
    Press(&view, Qt::Key_Odiaeresis, "\u00f6");
    Press(&view, Qt::Key_Return, "\r");
    if (encoding == teUtf8)
      EXPECT_EQ(medium.keys, "\xe2\x82\xac\xc3\xa4\xc3\xb6\r");
    else
      EXPECT_EQ(medium.keys, "\xe4\xf6\r") << "no Latin-1 byte for the euro sign: not sent";
    EXPECT_EQ(Shown(&view), "") << "nothing typed shows, the euro sign neither";
  }
}

// Tab and Shift+Tab are keys of the terminal; Ctrl+Tab and Ctrl+Shift+Tab walk the tab order,
// also where Tab alone would move the focus.
TEST(TerminalPane, TabIsSentAndCtrlTabMovesOn) {
  TvxTestUIServices ui;
  QWidget window;
  auto* before = new QPushButton("before", &window);
  auto* view = new QPlainTextEdit(&window);
  auto* after = new QPushButton("after", &window);
  view->setTabChangesFocus(true);
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  KeyMedium medium;
  medium.SetTerminal(view);
  medium.SetTerminalUsage(tuSend);
  medium.SetTerminalEmulation(true);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Tab);
  QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(medium.keys, "\t\x1b[Z");
  EXPECT_EQ(QApplication::focusWidget(), view);
  QTest::keyClick(view, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), after);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), before);
  EXPECT_EQ(medium.keys, "\t\x1b[Z") << "Ctrl+Tab sends nothing";

  medium.SetTerminalEmulation(false);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), after) << "a plain pane lets Tab move the focus";
}
