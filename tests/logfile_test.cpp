// The log file component against real files: entry bytes, detail levels, formatting,
// the size bound, save failures, OnLogEntry, file names, clearing and destruction.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <csignal>
#include <future>
#include <regex>

#include "logfile_fixture.h"
#include "vxcomm/platform/localtime.h"
#include "vxcomm/unqualified.h"

namespace {

std::string Header() {
  return "vxComm Lib " VXCOMM_VERSION " on " + GetVersionText("");
}

// The "[date time] " prefixes an entry written between Before and After may carry.
bool IsStampOfEither(const std::string& stamp, TvxInstant before, TvxInstant after) {
  for (std::int64_t s = before.seconds - 1; s <= after.seconds;
       ++s)  // the coarse clock may lag a tick
    if (stamp == vxShortDateText(s) + " " + vxLongTimeText(s)) return true;
  return false;
}

}  // namespace

TEST(LogFileEntries, DefaultOptionsWriteHeaderThenMessageWithDateAndTime) {
  std::string path = MakeTempDir("logfile") + "/entries.log";
  TestLogFile log;
  EXPECT_EQ(log.SizeLimit(), 204800u);
  EXPECT_EQ(log.FileName(), "duvevoder.log");
  EXPECT_EQ(log.DetailLevel(), dlSimple);
  EXPECT_EQ(log.Options(), (TLogOptions{loSafeMode, loAutoFileName, loDate, loTime, loDebugOut}));
  EXPECT_TRUE(log.HeaderPending());
  EXPECT_TRUE(log.AnsiOnly());
  log.SetOptions(log.Options() - loAutoFileName - loDebugOut);
  log.SetFileName(path);

  TvxInstant before = vxNow();
  log.AddEntryAt(dlSimple, "hello");
  TvxInstant after = vxNow();

  std::string bytes = ReadBytes(path);
  std::smatch m;
  ASSERT_TRUE(
      std::regex_match(bytes, m, std::regex("\r\n\\[([^\\]]*)\\] (.*)\r\n\\[([^\\]]*)\\] hello")))
      << bytes;
  EXPECT_TRUE(IsStampOfEither(m[1], before, after)) << m[1];
  EXPECT_TRUE(IsStampOfEither(m[3], before, after)) << m[3];
  EXPECT_EQ(m[2], Header());
  EXPECT_EQ(log.EntryCount(), 2);
  EXPECT_FALSE(log.HeaderPending());
  EXPECT_EQ(log.Buffer(), "");

  // Later entries come without a header; the last entry has no line end after it.
  log.AddEntryAt(dlSimple, "again");
  bytes = ReadBytes(path);
  EXPECT_EQ(bytes.find(Header()), bytes.rfind(Header()));
  EXPECT_EQ(bytes.substr(bytes.size() - 7), "] again");
  EXPECT_EQ(log.EntryCount(), 3);
}

TEST(LogFileEntries, PrefixFollowsDateTimeAndMillisecondOptions) {
  std::string dir = MakeTempDir("logfile");
  struct Case {
    TLogOptions stamps;
    std::string pattern;
  } cases[] = {
      {{}, "\r\nx"},
      {{loMSec}, "\r\n\\[\\+[0-9]{3}\\] x"},
      {{loDate}, "\r\n\\[[^ \\]][^\\]]*\\] x"},
      {{loTime}, "\r\n\\[[^ \\]][^\\]]*\\] x"},
      {{loDate, loTime, loMSec}, "\r\n\\[[^ \\]][^\\]]* [^\\]]* \\+[0-9]{3}\\] x"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir + "/prefix" + std::to_string(n++) + ".log";
    TestLogFile log;
    PlainSafeLog(log, path);
    log.AddEntry("warm-up");  // brings the header
    TLogOptions options = c.stamps + loSafeMode;
    log.SetOptions(options);
    log.ClearLog();
    log.AddEntry("x");
    EXPECT_TRUE(std::regex_match(ReadBytes(path), std::regex(c.pattern))) << ReadBytes(path);
  }
  // The date alone is the short date of today; the time alone, its hours to seconds.
  TestLogFile log;
  PlainSafeLog(log, dir + "/date.log");
  log.AddEntry("warm-up");
  log.SetOptions({loSafeMode, loDate});
  log.ClearLog();
  TvxInstant now = vxNow();
  log.AddEntry("d");
  EXPECT_EQ(ReadBytes(dir + "/date.log"), "\r\n[" + vxShortDateText(now.seconds) + "] d");
}

TEST(LogFileEntries, ControlCharactersAreEscapedAndOtherBytesKept) {
  std::string path = MakeTempDir("logfile") + "/escape.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.AddEntry("warm-up");
  log.ClearLog();
  log.AddEntry("a\r\nb");
  log.AddEntry(std::string("n\0l", 3));
  log.AddEntry("\x1f\t\\x\x7f\x80\xe9\xff ");
  EXPECT_EQ(ReadBytes(path),
            "\r\na\\0Dh\\0Ahb"
            "\r\nn\\00hl"
            "\r\n\\1Fh\\09h\\x\x7f\x80\xe9\xff ");
}

TEST(LogFileEntries, DetailLevelFiltersWithoutTriggeringTheHeader) {
  std::string path = MakeTempDir("logfile") + "/levels.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetDetailLevel(dlDetail);
  log.AddEntryAt(dlDebug, "debug");
  log.AddFormattedAt(dlDebug, "debug %d", {1});
  EXPECT_TRUE(log.HeaderPending());
  EXPECT_EQ(log.EntryCount(), 0);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));

  log.AddEntryAt(dlDetail, "detail");
  log.AddFormattedAt(dlSimple, "simple %d", {2});
  log.SetDetailLevel(dlSimple);
  log.AddEntryAt(dlDetail, "hidden");
  log.SetDetailLevel(dlDebug);
  log.AddFormattedAt(dlDebug, "debug %s", {"shown"});
  EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\ndetail\r\nsimple 2\r\ndebug shown");
  EXPECT_EQ(log.EntryCount(), 4);
}

TEST(LogFileEntries, FormatMismatchWritesLogFormatError) {
  std::string path = MakeTempDir("logfile") + "/format.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.AddEntry("warm-up");
  log.ClearLog();
  log.AddFormatted("Fatal Error: %u, %u, %s", {17u, 6u, "Too many errors."});
  log.AddFormatted("%u", {"text"});
  log.AddFormatted("%s and %s", {"one"});
  log.AddFormatted("100%", {});
  EXPECT_EQ(ReadBytes(path),
            "\r\nFatal Error: 17, 6, Too many errors.\r\nLog format ERROR!!!\r\nLog format ERROR!!!"
            "\r\nLog format ERROR!!!");
}

TEST(LogFileBound, CutDropsOldestBytesToEndAtTheLimit) {
  std::string path = MakeTempDir("logfile") + "/bound.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  log.AddEntry("warm-up");
  int reached = 0;
  log.OnReachLimit = [&](TObject* sender) {
    EXPECT_EQ(sender, &log);
    ++reached;
  };
  std::string old;
  for (int i = 0; i < 90; ++i) old += static_cast<char>('A' + i % 26);
  WriteBytes(path, old);
  log.SetSizeLimit(100);
  std::string text(28, 'z');  // with CR LF a 30-byte entry
  log.AddEntry(text);
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(ReadBytes(path), old.substr(20) + "\r\n" + text);

  // An entry longer than the bound: only its first SizeLimit bytes remain.
  std::string longText(150, 'q');
  longText[97] = 'E';
  log.AddEntry(longText);
  EXPECT_EQ(reached, 2);
  EXPECT_EQ(ReadBytes(path), ("\r\n" + longText).substr(0, 100));
}

TEST(LogFileBound, NewestBytesAreKeptAndTheEventFiresOncePerCut) {
  std::string path = MakeTempDir("logfile") + "/model.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  log.AddEntry("warm-up");
  std::string all = ReadBytes(path);
  const std::uint64_t limit = 1000;
  log.SetSizeLimit(limit);
  int reached = 0;
  log.OnReachLimit = [&](TObject*) { ++reached; };
  int expectedCuts = 0;
  std::string expected = all.size() > limit ? all.substr(all.size() - limit) : all;
  if (all.size() > limit) ++expectedCuts;  // the first bounded append shrinks it
  for (int i = 0; i < 200; ++i) {
    std::string text =
        "entry " + std::to_string(i) + std::string(static_cast<std::size_t>(i * 7 % 90), '.');
    std::string entry = "\r\n" + text;
    if (expected.size() + entry.size() > limit) ++expectedCuts;
    expected += entry;
    if (expected.size() > limit) expected = expected.substr(expected.size() - limit);
    log.AddEntry(text);
    std::string bytes = ReadBytes(path);
    ASSERT_LE(bytes.size(), limit);
    ASSERT_EQ(bytes, expected) << "after entry " << i;
  }
  EXPECT_EQ(reached, expectedCuts);
  EXPECT_GT(reached, 100);
}

TEST(LogFileBound, EntryLoggedFromOnReachLimitIsSavedWithTheNextOne) {
  std::string path = MakeTempDir("logfile") + "/reentrant.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  log.AddEntry("warm-up");
  log.ClearLog();
  log.SetSizeLimit(20);
  log.OnReachLimit = [&](TObject*) { log.AddEntry("cut"); };
  log.AddEntry("0123456789");  // 12 bytes
  log.AddEntry("abcdefghij");  // 24 bytes would pass the bound
  EXPECT_EQ(log.Buffer(), "\r\ncut");
  EXPECT_EQ(ReadBytes(path), "23456789\r\nabcdefghij");
  log.OnReachLimit = nullptr;
  log.SetSizeLimit(0);
  log.AddEntry("next");
  EXPECT_EQ(ReadBytes(path), "23456789\r\nabcdefghij\r\ncut\r\nnext");
  EXPECT_EQ(log.Buffer(), "");
}

TEST(LogFileBound, ZeroLimitLetsTheFileGrowWithoutEvent) {
  std::string path = MakeTempDir("logfile") + "/unbounded.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  bool reached = false;
  log.OnReachLimit = [&](TObject*) { reached = true; };
  std::string text(1000, 'u');
  for (int i = 0; i < 300; ++i) log.AddEntry(text);
  EXPECT_FALSE(reached);
  EXPECT_EQ(ReadBytes(path).size(), 2 + Header().size() + 300 * 1002);
}

TEST(LogFileSave, UnwritablePathIsReportedAndNothingIsLost) {
  std::string dir = MakeTempDir("logfile");
  std::string path = dir + "/later/saved.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  std::vector<std::string> errors;
  log.OnFatalError = [&](TObject* sender, Cardinal code, Cardinal detail, const std::string& msg,
                         bool& raise) {
    EXPECT_EQ(sender, &log);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(detail, 0u);
    errors.push_back(msg);
    raise = false;
  };
  log.AddEntry("one");
  log.AddEntry("two");
  // One report for the header with "one" (the header's save waits for its entry), one for "two".
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], "Error when save log file:" + path);
  std::string kept = "\r\n" + Header() + "\r\none\r\ntwo";
  EXPECT_EQ(log.Buffer(), kept);

  // Without a handler the failure reaches whoever logged, as Exception(message).
  log.OnFatalError = nullptr;
  try {
    log.AddEntry("three");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Error when save log file:" + path);
  }
  kept += "\r\nthree";
  EXPECT_EQ(log.Buffer(), kept);

  // Once the directory exists the whole buffer is written, once.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir + "/later")));
  log.AddEntry("four");
  EXPECT_EQ(ReadBytes(path), kept + "\r\nfour");
  EXPECT_EQ(log.Buffer(), "");
}

TEST(LogFileSave, DirectoryInPlaceOfTheFileIsASaveFailure) {
  std::string path = MakeTempDir("logfile") + "/isdir.log";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path)));
  TestLogFile log;
  PlainSafeLog(log, path);
  EXPECT_THROW(log.AddEntry("x"), Exception);
  EXPECT_EQ(log.Buffer(),
            "\r\n" + Header() + "\r\nx");  // the first entry outlives its header's failure
  log.SetOptions({});                      // buffering: nothing is tried until a save
  log.AddEntry("y");
  EXPECT_THROW(log.SaveToFile(), Exception);
  EXPECT_EQ(log.Buffer(), "\r\n" + Header() + "\r\nx\r\ny");
}

TEST(LogFileSave, WriteCutShortLeavesNoPartAndIsWrittenWholeLater) {
  std::string path = MakeTempDir("logfile") + "/short.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.SetSizeLimit(0);
  log.AddEntry("warm-up");
  std::string before = ReadBytes(path);

  // The file size limit of the process makes the kernel cut the write short.
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = before.size() + 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool failed = false;
  log.OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
    failed = true;
    raise = false;
  };
  std::string text(100, 'w');
  log.AddEntry(text);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(failed);
  EXPECT_EQ(ReadBytes(path), before);  // the part that fitted was taken back
  log.AddEntry("next");
  std::string all = before + "\r\n" + text + "\r\nnext";
  EXPECT_EQ(ReadBytes(path), all);

  // The same after a cut for the bound, where the write goes to a position of its own.
  const std::size_t limit = all.size() - 40;
  log.SetSizeLimit(static_cast<Cardinal>(limit));
  small.rlim_cur = limit - 10;
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  failed = false;
  log.AddEntry(text);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(failed);
  EXPECT_EQ(ReadBytes(path),
            all.substr(all.size() + text.size() + 2 - limit));  // only the cut happened
  log.AddEntry("last");
  all += "\r\n" + text + "\r\nlast";
  EXPECT_EQ(ReadBytes(path), all.substr(all.size() - limit));
}

TEST(LogFileOnLogEntry, HandlerChangesOrDropsEntriesAndFreesTheLock) {
  std::string path = MakeTempDir("logfile") + "/onentry.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.AddEntry("warm-up");
  log.ClearLog();
  int count = log.EntryCount();
  log.OnLogEntry = [&](TObject* sender, std::string& text) {
    EXPECT_EQ(sender, &log);
    if (text == "drop") text.clear();
    if (text == "change") text = "changed";
    if (text == "throw") {
      text = "thrown";
      throw std::runtime_error("handler failed");
    }
  };
  log.AddEntry("drop");
  EXPECT_EQ(log.EntryCount(), count);
  EXPECT_EQ(ReadBytes(path), "");
  // The lock must be free for another thread after the dropped entry.
  auto other = std::async(std::launch::async, [&] { log.AddEntry("change"); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  log.AddEntry("throw");
  EXPECT_EQ(ReadBytes(path), "\r\nchanged\r\nthrown");
  EXPECT_EQ(log.EntryCount(), count + 2);
}

TEST(LogFileNames, FileNameIsTrimmedAndResolvedAgainstTheExecutable) {
  std::string exe = QCoreApplication::applicationFilePath().toStdString();
  std::string exeDir = exe.substr(0, exe.rfind('/') + 1);
  TestLogFile log;
  EXPECT_EQ(log.ResolveFileName(), exe + ".log");  // the test has no extension to change
  log.SetOptions({});
  log.SetFileName(" \t\r\n name.log \x01\n");
  EXPECT_EQ(log.FileName(), "name.log");
  EXPECT_EQ(log.ResolveFileName(), exeDir + "name.log");
  log.SetFileName("/root.log");
  EXPECT_EQ(log.ResolveFileName(), exeDir + "root.log");
  log.SetFileName("a/sub.log");
  EXPECT_EQ(log.ResolveFileName(), "a/sub.log");
  log.SetFileName("logs/sub.log");
  EXPECT_EQ(log.ResolveFileName(), "logs/sub.log");
  log.SetFileName("/tmp/abs.log");
  EXPECT_EQ(log.ResolveFileName(), "/tmp/abs.log");
  log.SetOptions({loAutoFileName});
  EXPECT_EQ(log.ResolveFileName(), exe + ".log");
}

TEST(LogFileNames, EmptyFileNameKeepsEverythingInBufferAndNeverRaises) {
  TestLogFile log;
  log.SetOptions({loSafeMode});
  log.SetFileName(" \t ");
  EXPECT_EQ(log.ResolveFileName(), "");
  log.AddEntry("a");
  log.SaveToFile();
  log.AddEntry("b");
  EXPECT_EQ(log.Buffer(), "\r\n" + Header() + "\r\na\r\nb");
  log.ClearLog();
  EXPECT_EQ(log.Buffer(), "");
}

TEST(LogFileRelativeName, SubDirectoryIsRelativeToTheCurrentDirectory) {
  std::string dir = MakeTempDir("logfile");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir + "/logs")));
  QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir)));
  {
    TestLogFile log;
    PlainSafeLog(log, "logs/rel.log");
    log.AddEntry("here");
  }
  QDir::setCurrent(previous);
  EXPECT_EQ(ReadBytes(dir + "/logs/rel.log"), "\r\n" + Header() + "\r\nhere");
}

TEST(LogFileLifecycle, BufferedEntriesReachTheFileOnSaveOrDestruction) {
  std::string dir = MakeTempDir("logfile");
  {
    TestLogFile log;
    log.SetOptions({});
    log.SetFileName(dir + "/buffered.log");
    log.AddEntry("a");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "/buffered.log")));
    log.SaveToFile();
    EXPECT_EQ(ReadBytes(dir + "/buffered.log"), "\r\n" + Header() + "\r\na");
    EXPECT_EQ(log.Buffer(), "");
    log.AddEntry("b");
    EXPECT_EQ(log.Buffer(), "\r\nb");
  }
  EXPECT_EQ(ReadBytes(dir + "/buffered.log"), "\r\n" + Header() + "\r\na\r\nb");

  // A failing save at destruction is told to OnFatalError and raises nothing.
  bool told = false;
  {
    TestLogFile log;
    log.SetOptions({});
    log.SetFileName(dir + "/missing/x.log");
    log.OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string&, bool&) {
      told = true;
    };
    log.AddEntry("lost?");
  }
  EXPECT_TRUE(told);

  // In safe mode, entries whose save failed get one more try at destruction.
  std::string late = dir + "/late";
  {
    TestLogFile log;
    PlainSafeLog(log, late + "/x.log");
    log.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    log.AddEntry("waiting");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(late)));
  }
  EXPECT_EQ(ReadBytes(late + "/x.log"), "\r\n" + Header() + "\r\nwaiting");
}

TEST(LogFileLifecycle, ClearLogDeletesTheFileAndKeepsTheHeaderDone) {
  std::string path = MakeTempDir("logfile") + "/clear.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.AddEntry("a");
  ASSERT_TRUE(QFile::exists(QString::fromStdString(path)));
  log.SetOptions({});
  log.AddEntry("b");
  log.ClearLog();
  EXPECT_EQ(log.Buffer(), "");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
  EXPECT_FALSE(log.HeaderPending());
  log.AddEntry("c");
  log.SaveToFile();
  EXPECT_EQ(ReadBytes(path), "\r\nc");
}

TEST(LogFileSink, ComponentsLogThroughTheAbstractSink) {
  std::string path = MakeTempDir("logfile") + "/sink.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  TvxCustomLogFile& sink = log;
  sink.AddHeader();
  EXPECT_FALSE(log.HeaderPending());
  sink.AddFormattedAt(dlSimple, "Fatal Error: %u, %u, %s", {1u, 0u, "x"});
  // The header comes first (pending), then the explicit one, then the entry.
  EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\n" + Header() + "\r\nFatal Error: 1, 0, x");
  bool called = false;
  log.OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
    called = true;
    raise = false;
  };
  sink.RaiseFatalError(0, 0, "quiet");
  EXPECT_TRUE(called);
  EXPECT_EQ(ReadBytes(path), "\r\n" + Header() + "\r\n" + Header() + "\r\nFatal Error: 1, 0, x");
}
