// Several threads logging through one log file component at once: every entry reaches
// the file once, whole, in each thread's own order, and the size bound always holds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QPlainTextEdit>
#include <atomic>
#include <map>
#include <thread>

#include "logfile_fixture.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/widgetuiservices.h"

namespace {

constexpr int kThreads = 4;
constexpr int kEntries = 400;

std::string Header() {
  return "vxComm Lib " VXCOMM_VERSION " on " + GetVersionText("");
}

std::string EntryText(int thread, int i) {
  return "T" + std::to_string(thread) + " #" + std::to_string(i) + " " +
         std::string(static_cast<std::size_t>(i % 37), '=');
}

// Runs kThreads workers that each log kEntries entries; SaveEvery > 0 makes worker 0
// save after every SaveEvery entries of its own.
void LogFromThreads(TvxLogFile& log, int saveEvery = 0) {
  std::atomic<int> ready{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      for (int i = 0; i < kEntries; ++i) {
        log.AddEntryAt(dlSimple, EntryText(t, i));
        if (saveEvery > 0 && t == 0 && i % saveEvery == 0) log.SaveToFile();
      }
    });
  for (auto& w : workers) w.join();
}

// Splits the file into entries after checking the CR LF in front of each; with Partial
// the text before the first line start (a cut entry) is dropped.
std::vector<std::string> Entries(const std::string& bytes, bool partial) {
  std::vector<std::string> out;
  std::size_t pos = bytes.find("\r\n");
  if (!partial) {
    EXPECT_EQ(pos, 0u);
  }
  while (pos != std::string::npos) {
    std::size_t next = bytes.find("\r\n", pos + 2);
    out.push_back(
        bytes.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2));
    pos = next;
  }
  return out;
}

// Checks that every entry is one of ours, whole, and that each thread's entries come in
// its own order without a gap; Complete asks for all of them, from the first.
void CheckOrder(const std::vector<std::string>& entries, bool complete) {
  std::map<int, int> next;
  for (const std::string& e : entries) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(e.c_str(), "T%d #%d", &t, &i), 2) << "not an entry: " << e;
    ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kEntries) << e;
    ASSERT_EQ(e, EntryText(t, i)) << "entry damaged";
    if (next.count(t)) {
      ASSERT_EQ(i, next[t]) << "thread " << t << " out of order or twice";
    } else if (complete) {
      ASSERT_EQ(i, 0) << "thread " << t << " lost its first entries";
    }
    next[t] = i + 1;
  }
  if (!complete) return;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEntries) << "thread " << t;
}

}  // namespace

TEST(LogFileThreads, SafeModeWritesEveryEntryOnceInEachThreadsOrder) {
  std::string path = MakeTempDir("logfile-threads") + "/safe.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  LogFromThreads(log);
  std::vector<std::string> entries = Entries(ReadBytes(path), false);
  ASSERT_EQ(entries.size(), 1u + kThreads * kEntries);
  EXPECT_EQ(entries.front(), Header());
  entries.erase(entries.begin());
  CheckOrder(entries, true);
  EXPECT_EQ(log.EntryCount(), 1 + kThreads * kEntries);
  EXPECT_EQ(log.Buffer(), "");
}

TEST(LogFileThreads, BufferedModeWithConcurrentSavesLosesNothing) {
  std::string path = MakeTempDir("logfile-threads") + "/buffered.log";
  {
    TestLogFile log;
    log.SetOptions({loDate, loTime, loMSec});
    log.SetFileName(path);
    log.SetSizeLimit(0);
    LogFromThreads(log, 25);
  }  // the rest is saved by the destructor
  std::vector<std::string> entries = Entries(ReadBytes(path), false);
  ASSERT_EQ(entries.size(), 1u + kThreads * kEntries);
  for (std::string& e : entries) {
    ASSERT_EQ(e.front(), '[');
    e = e.substr(e.find("] ") + 2);
  }
  EXPECT_EQ(entries.front(), Header());
  entries.erase(entries.begin());
  CheckOrder(entries, true);
}

TEST(LogFileThreads, BoundHoldsWhileThreadsLogAndTheNewestBytesStay) {
  std::string path = MakeTempDir("logfile-threads") + "/bounded.log";
  const Cardinal limit = 6000;
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(limit);
  int cuts = 0;  // under the component's lock
  log.OnReachLimit = [&](TObject*) { ++cuts; };
  std::atomic<bool> done{false};
  std::atomic<long long> largest{0};
  std::thread watcher([&] {
    while (!done) {
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && st.st_size > largest) largest = st.st_size;
    }
  });
  LogFromThreads(log);
  done = true;
  watcher.join();
  EXPECT_LE(largest.load(), static_cast<long long>(limit));
  std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), limit);
  EXPECT_GT(cuts, kEntries);
  std::vector<std::string> entries = Entries(bytes, true);
  ASSERT_GT(entries.size(), 50u);
  CheckOrder(entries, false);
  // The newest entry of all is the file's last.
  EXPECT_TRUE(bytes.ends_with(entries.back()));
}

TEST(LogFileThreads, PaneOnTheMainThreadReceivesWorkersEntries) {
  TvxWidgetUIServices services;
  SetUIServices(&services);
  {
    auto* pane = new QPlainTextEdit;
    TestLogFile log;
    log.SetOptions({});
    log.SetFileName("");
    log.SetVisualOut(pane);
    std::atomic<bool> finished{false};
    std::thread logging([&] {
      LogFromThreads(log);
      finished = true;
    });
    WaitUntil([&] { return finished.load(); }, 60000);
    logging.join();
    WaitUntil([&] { return pane->toPlainText().count('\n') >= kThreads * kEntries + 1; }, 20000);
    std::string text = pane->toPlainText().toLatin1().toStdString();
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while ((pos = text.find('\n', pos)) != std::string::npos) {
      std::size_t next = text.find('\n', pos + 1);
      lines.push_back(
          text.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1));
      pos = pos + 1;
    }
    ASSERT_EQ(lines.size(), 1u + kThreads * kEntries);
    EXPECT_EQ(lines.front(), Header());
    lines.erase(lines.begin());
    CheckOrder(lines, true);
    delete pane;
  }
  SetUIServices(nullptr);
}
