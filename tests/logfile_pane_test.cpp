// The log pane: a real QPlainTextEdit bound through the widgets layer receives every
// entry, from the main thread and from workers, and is forgotten when destroyed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <atomic>
#include <thread>

#include "logfile_fixture.h"
#include "vxcomm/rtl/textview.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/widgetuiservices.h"

namespace {

std::string Header() {
  return "vxComm Lib " VXCOMM_VERSION " on " + GetVersionText("");
}

std::string PaneText(QPlainTextEdit& pane) {
  return pane.toPlainText().toLatin1().toStdString();
}

class WidgetServices : public ::testing::Test {
 protected:
  void SetUp() override { SetUIServices(&services_); }
  void TearDown() override { SetUIServices(nullptr); }
  TvxWidgetUIServices services_;
};

// A pane whose updates fail while Failing is set.
class FailingView : public TvxTextView {
 public:
  explicit FailingView(std::atomic<bool>& failing) : failing_(failing) {}
  void TypeChar(char) override {}
  void InsertText(const std::string&) override {}
  void SetText(const std::string&) override {}
  void AppendText(const std::string& text) override {
    if (failing_) throw std::runtime_error("pane is broken");
    received += text;
  }
  void SetLocalText(bool) override {}
  void SetKeyHook(std::function<bool(char)>) override {}
  std::string received;

 private:
  std::atomic<bool>& failing_;
};

class FailingServices : public TvxUIServices {
 public:
  std::unique_ptr<TvxTextView> BindTextView(QObject*) override {
    auto view = std::make_unique<FailingView>(failing);
    last = view.get();
    return view;
  }
  std::atomic<bool> failing{true};
  FailingView* last = nullptr;
};

}  // namespace

TEST_F(WidgetServices, PaneShowsEveryEntryOnItsOwnLine) {
  std::string path = MakeTempDir("logfile-pane") + "/pane.log";
  QPlainTextEdit pane;
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetVisualOut(&pane);
  EXPECT_EQ(log.VisualOut(), &pane);
  log.AddEntry("one");
  log.AddEntry("t\x01o \xe9");
  EXPECT_EQ(PaneText(pane), "\n" + Header() + "\none\nt\\01ho \xe9");
  EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\none\r\nt\\01ho \xe9");

  // The user's caret and selection stay where the user left them.
  QTextCursor cursor = pane.textCursor();
  cursor.setPosition(1);
  cursor.setPosition(4, QTextCursor::KeepAnchor);
  pane.setTextCursor(cursor);
  log.AddEntry("three");
  EXPECT_EQ(pane.textCursor().anchor(), 1);
  EXPECT_EQ(pane.textCursor().position(), 4);
  EXPECT_EQ(PaneText(pane).substr(PaneText(pane).size() - 6), "\nthree");

  log.SetVisualOut(nullptr);
  log.AddEntry("unseen");
  EXPECT_EQ(PaneText(pane).find("unseen"), std::string::npos);
}

TEST_F(WidgetServices, PaneThatShowedItsEndFollowsNewEntries) {
  QPlainTextEdit pane;
  pane.resize(300, 120);
  TestLogFile log;
  log.SetOptions({});
  log.SetFileName("");
  log.SetVisualOut(&pane);
  for (int i = 0; i < 100; ++i) log.AddEntry("line " + std::to_string(i));
  QCoreApplication::processEvents();
  QScrollBar* bar = pane.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(0);  // the user scrolls back to read
  for (int i = 0; i < 20; ++i) log.AddEntry("more " + std::to_string(i));
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
}

TEST_F(WidgetServices, WorkerEntriesReachThePaneThroughItsThread) {
  QPlainTextEdit pane;
  TestLogFile log;
  log.SetOptions({});
  log.SetFileName("");
  log.SetVisualOut(&pane);
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) log.AddEntry("w" + std::to_string(i));
  });
  worker.join();
  EXPECT_TRUE(WaitUntil([&] { return PaneText(pane).ends_with("\nw49"); }, 10000))
      << PaneText(pane);
  std::string text = PaneText(pane);
  for (int i = 0; i < 50; ++i) EXPECT_NE(text.find("\nw" + std::to_string(i)), std::string::npos);
}

TEST_F(WidgetServices, DestroyedPaneIsForgottenEvenWhileWorkersLog) {
  TestLogFile log;
  log.SetOptions({});
  log.SetFileName("");
  auto* pane = new QPlainTextEdit;
  log.SetVisualOut(pane);
  log.AddEntry("before");
  delete pane;
  EXPECT_EQ(log.VisualOut(), nullptr);
  log.AddEntry("after");

  pane = new QPlainTextEdit;
  log.SetVisualOut(pane);
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 2; ++t)
    workers.emplace_back([&] {
      while (!stop) {
        log.AddEntry("busy");
        ++written;
      }
    });
  WaitUntil([&] { return written > 300; }, 10000);
  delete pane;  // on the main thread, while entries keep coming
  EXPECT_EQ(log.VisualOut(), nullptr);
  int seen = written;
  WaitUntil([&] { return written > seen + 300; }, 10000);
  stop = true;
  for (auto& w : workers) w.join();
  QCoreApplication::processEvents();  // queued updates for the freed pane must be gone
  EXPECT_GT(written.load(), seen);
}

TEST_F(WidgetServices, ObjectThatIsNoTextViewIsKeptButNotWrittenTo) {
  TestLogFile log;
  log.SetOptions({});
  log.SetFileName("");
  auto* other = new QObject;
  log.SetVisualOut(other);
  log.AddEntry("x");
  EXPECT_EQ(log.VisualOut(), other);
  delete other;
  EXPECT_EQ(log.VisualOut(), nullptr);
}

TEST(LogPaneFailure, FailedUpdateIsAFatalErrorAndTheEntryWaitsForTheNextSave) {
  FailingServices services;
  SetUIServices(&services);
  std::string path = MakeTempDir("logfile-pane") + "/failing.log";
  QObject paneObject;
  {
    TestLogFile log;
    PlainSafeLog(log, path);
    log.SetVisualOut(&paneObject);
    std::vector<std::string> errors;
    log.OnFatalError = [&](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                           bool& raise) {
      errors.push_back(std::to_string(code) + "," + std::to_string(detail) + "," + msg);
      raise = false;
    };
    log.AddEntry("handled");  // the handler clears the raise: the entry is saved
    EXPECT_EQ(errors, (std::vector<std::string>{"0,0,", "0,0,"}));  // header and entry
    EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\nhandled");

    log.OnFatalError = nullptr;
    try {
      log.AddEntry("raised");
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "");
    }
    EXPECT_EQ(log.Buffer(), "\r\nraised");
    EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\nhandled");
    services.failing = false;
    log.AddEntry("mended");
    EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\nhandled\r\nraised\r\nmended");
    EXPECT_EQ(services.last->received, "\r\nmended");
  }
  SetUIServices(nullptr);
}
