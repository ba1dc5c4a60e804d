// The widgets layer's text views as terminal and log pane: every Qt text widget the
// bindings take shows received bytes and sends typed keys; any other object is refused as
// a terminal when it is set, so that no received byte goes to a view that drops it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <memory>

#include "support/ptymedium.h"
#include "support/ptypair.h"
#include "support/testui.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxlogfile.h"

namespace {

std::string Shown(QWidget* view) {
  QString text;
  if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) text = plain->toPlainText();
  if (auto* rich = qobject_cast<QTextEdit*>(view)) text = rich->toPlainText();
  if (auto* line = qobject_cast<QLineEdit*>(view)) text = line->text();
  return text.toLatin1().toStdString();
}

std::unique_ptr<QWidget> MakeView(const std::string& kind) {
  if (kind == "QPlainTextEdit") return std::make_unique<QPlainTextEdit>();
  if (kind == "QTextEdit") return std::make_unique<QTextEdit>();
  return std::make_unique<QLineEdit>();
}

// A medium whose every send fails, as a line that went down under a typed key.
class FailingMedium : public TvxPtyMedium {
 public:
  using TvxPtyMedium::TvxPtyMedium;
  void SendChar(char) override { throw Exception("The line is down."); }
};

// A medium that only records the keys it is given to send.
class KeyMedium : public TvxPtyMedium {
 public:
  using TvxPtyMedium::TvxPtyMedium;
  void SendChar(char ch) override { keys += ch; }
  std::string keys;
};

class TerminalKinds : public testing::TestWithParam<std::string> {
 protected:
  TvxTestUIServices ui;
};

}  // namespace

// Received bytes are shown, delivered from the medium's own thread; typed keys are sent.
TEST_P(TerminalKinds, ShowReceivedBytesAndSendTypedKeys) {
  const bool oneLine = GetParam() == "QLineEdit";
  PtyPair pty;
  std::unique_ptr<QWidget> view = MakeView(GetParam());
  TvxPtyMedium medium;
  medium.SetTerminal(view.get());
  ASSERT_EQ(medium.Terminal(), view.get());
  medium.SetTerminalUsage(tuBoth);
  EXPECT_TRUE(medium.TerminalReceives());
  medium.SetDevicePath(pty.slavePath());
  medium.SetActive(true);
  ASSERT_TRUE(medium.IsOpen());

  pty.Write("first\r\nhello\xE9");
  const std::string expected = oneLine ? "hello\xE9" : "first\nhello\xE9";
  EXPECT_TRUE(WaitUntil([&] { return Shown(view.get()) == expected; }, 5000)) << Shown(view.get());
  pty.Write("\b");  // a single byte acts as its key
  EXPECT_TRUE(
      WaitUntil([&] { return Shown(view.get()) == expected.substr(0, expected.size() - 1); }, 5000))
      << Shown(view.get());

  view->setFocus();
  QTest::keyClicks(view.get(), "ok");
  QTest::keyClick(view.get(), Qt::Key_Return);
  EXPECT_EQ(pty.Read(3, 5000), "ok\r");
  EXPECT_EQ(medium.sent, "ok\r");
  EXPECT_EQ(Shown(view.get()), expected.substr(0, expected.size() - 1)) << "keys are not echoed";
  medium.SetActive(false);
}

// Without a hook the view is a normal edit again, and a key the medium fails to send is
// shown by the exception display instead of leaving the key event.
TEST_P(TerminalKinds, AKeyThatCannotBeSentIsShown) {
  std::unique_ptr<QWidget> view = MakeView(GetParam());
  FailingMedium medium;
  medium.SetTerminal(view.get());
  medium.SetTerminalUsage(tuSend);
  view->setFocus();
  QTest::keyClick(view.get(), Qt::Key_X);
  ASSERT_EQ(ui.exceptions, std::vector<std::string>{"The line is down."});
  EXPECT_EQ(Shown(view.get()), "");
  medium.SetTerminal(nullptr);
  QTest::keyClick(view.get(), Qt::Key_Y);
  EXPECT_EQ(Shown(view.get()), "y");
  EXPECT_EQ(ui.exceptions.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Widgets, TerminalKinds,
                         testing::Values("QPlainTextEdit", "QTextEdit", "QLineEdit"));

TEST(TerminalKinds, TabTypesOnlyWhereItDoesNotMoveTheFocus) {
  TvxTestUIServices ui;
  QWidget window;
  auto* typing = new QTextEdit(&window);
  auto* moving = new QPlainTextEdit(&window);
  auto* line = new QLineEdit(&window);
  moving->setTabChangesFocus(true);
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  for (QWidget* view : std::initializer_list<QWidget*>{typing, moving, line}) {
    KeyMedium medium;
    medium.SetTerminal(view);
    medium.SetTerminalUsage(tuSend);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Tab);
    const bool types = view == typing;
    EXPECT_EQ(medium.keys, types ? "\t" : "") << view->metaObject()->className();
    EXPECT_EQ(QApplication::focusWidget() == view, types) << view->metaObject()->className();
  }
}

// A line edit holds one line: a line longer than its maxLength keeps the newest bytes.
TEST(TerminalKinds, ALineEditKeepsTheNewestBytesOfALongLine) {
  TvxTestUIServices ui;
  QLineEdit line;
  line.setMaxLength(8);
  TvxPtyMedium medium;
  medium.SetTerminal(&line);
  medium.SetTerminalUsage(tuReceive);
  medium.TerminalWrite("0123456789", 10);
  EXPECT_EQ(line.text(), "23456789");
  medium.TerminalWrite("ab", 2);
  EXPECT_EQ(line.text(), "456789ab");
  medium.TerminalWrite("\r", 1);
  EXPECT_EQ(line.text(), "");
  medium.TerminalWrite("x\0y", 3);
  EXPECT_EQ(line.text(), "xy") << "NUL bytes are not shown";
}

TEST(TerminalKinds, OtherObjectsAreRefusedWhenSet) {
  TvxTestUIServices ui;
  QLabel label;
  label.setObjectName("Label1");
  TvxPtyMedium medium;
  QPlainTextEdit before;
  medium.SetTerminal(&before);
  medium.SetTerminalUsage(tuBoth);
  try {
    medium.SetTerminal(&label);
    FAIL() << "a label was taken as a terminal";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(),
                 "A QLabel (\"Label1\") cannot show text: a terminal is a QPlainTextEdit, a "
                 "QTextEdit or a QLineEdit.");
  }
  EXPECT_EQ(medium.Terminal(), &before) << "the terminal stays as it was";
  EXPECT_TRUE(medium.TerminalReceives());
  medium.TerminalWrite("still", 5);
  EXPECT_EQ(Shown(&before), "still");
  QObject plain;
  EXPECT_THROW(medium.SetTerminal(&plain), Exception);
  EXPECT_EQ(medium.Terminal(), &before);
  medium.SetTerminal(nullptr);
  EXPECT_EQ(medium.Terminal(), nullptr);
}

// The log pane takes the same kinds of view.
TEST(TerminalKinds, ALogPaneCanBeAnyOfTheKinds) {
  TvxTestUIServices ui;
  for (const char* kind : {"QPlainTextEdit", "QTextEdit", "QLineEdit"}) {
    std::unique_ptr<QWidget> pane = MakeView(kind);
    TvxLogFile log;
    log.SetOptions({});
    log.SetFileName("");
    log.SetVisualOut(pane.get());
    log.AddEntry("an entry");
    EXPECT_NE(Shown(pane.get()).find("an entry"), std::string::npos) << kind;
    log.SetVisualOut(nullptr);
  }
}
