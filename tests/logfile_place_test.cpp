// Where the log file component writes when its own place cannot take the file: the user's
// state directory (StateDirFallback), and a failure that is reported once, with a bounded
// Buffer, instead of at every entry (ReportSaveErrorOnce). Real files; the unwritable place
// is a path below a regular file, which no user (root included) can create.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "logfile_fixture.h"

namespace fs = std::filesystem;

namespace {

class LogPlace : public testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("logplace");
    WriteBytes(dir + "/blocker", "a file, not a folder");
    blocked = dir + "/blocker/program.log";
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }
  // Counts the reports and lets the logging go on.
  void CountReports(TvxLogFile& log) {
    log.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      reports.push_back(msg);
      raise = false;
    };
  }

  std::string dir, blocked;
  std::vector<std::string> reports;
};

}  // namespace

TEST_F(LogPlace, AnUnwritablePlaceMovesTheLogToTheStateDirectory) {
  TvxLogFile log;
  PlainSafeLog(log, blocked);
  log.SetStateDirFallback(true);
  CountReports(log);
  for (const char* entry : {"one", "two", "three"}) log.AddEntry(entry);
  const std::string moved = dir + "/state/vxcomm/program.log";
  EXPECT_EQ(ReadBytes(moved), "\r\nvxComm Lib " + std::string(VXCOMM_VERSION) + " on " +
                                  GetVersionText("") + "\r\none\r\ntwo\r\nthree");
  EXPECT_EQ(log.FilePath(), moved);
  EXPECT_TRUE(reports.empty()) << reports[0];
  EXPECT_EQ(log.Buffer(), "");
  EXPECT_FALSE(fs::exists(blocked));
}

TEST_F(LogPlace, HOMEGivesTheStateDirectoryWithoutXdgStateHome) {
  ::unsetenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string saved = home ? home : "";
  ::setenv("HOME", dir.c_str(), 1);
  {
    TvxLogFile log;
    PlainSafeLog(log, blocked);
    log.SetStateDirFallback(true);
    CountReports(log);
    log.AddEntry("x");
    EXPECT_EQ(log.FilePath(), dir + "/.local/state/vxcomm/program.log");
    EXPECT_NE(ReadBytes(log.FilePath()).find("\r\nx"), std::string::npos);
  }
  if (home) ::setenv("HOME", saved.c_str(), 1);
  EXPECT_TRUE(reports.empty());
}

// Off by default: the failure is raised at the entry, and nothing is written elsewhere.
TEST_F(LogPlace, WithoutTheFallbackEveryFailedSaveIsRaised) {
  TvxLogFile log;
  PlainSafeLog(log, blocked);
  EXPECT_FALSE(log.StateDirFallback());
  EXPECT_FALSE(log.ReportSaveErrorOnce());
  CountReports(log);
  for (int i = 0; i < 4; ++i) log.AddEntry("entry");
  EXPECT_EQ(reports.size(), 4u) << "the header's save waits for the first entry's";
  EXPECT_EQ(reports[0], "Error when save log file:" + blocked);
  EXPECT_FALSE(fs::exists(dir + "/state"));
}

TEST_F(LogPlace, ALogThatCannotBeWrittenAnywhereIsReportedOnceWithABoundedBuffer) {
  ::setenv("XDG_STATE_HOME", (dir + "/blocker/state").c_str(), 1);
  TvxLogFile log;
  PlainSafeLog(log, blocked);
  log.SetStateDirFallback(true);
  log.SetReportSaveErrorOnce(true);
  log.SetSizeLimit(100);
  CountReports(log);
  for (int i = 0; i < 50; ++i) log.AddEntry("entry " + std::to_string(i));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Error when save log file:" + blocked);
  EXPECT_EQ(log.Buffer().size(), 100u);
  EXPECT_TRUE(log.Buffer().ends_with("\r\nentry 49")) << log.Buffer();

  // The place can be written again: what was kept arrives (bounded as any append is), and
  // a later failure is reported again.
  fs::remove(dir + "/blocker");
  fs::create_directory(dir + "/blocker");
  log.AddEntry("back");
  EXPECT_EQ(log.Buffer(), "");
  std::string written = ReadBytes(blocked);
  EXPECT_NE(written.find("\r\nentry 49"), std::string::npos) << written;
  EXPECT_EQ(written.size(), 100u);
  fs::remove_all(dir + "/blocker");
  WriteBytes(dir + "/blocker", "a file again");
  log.AddEntry("lost place");
  log.AddEntry("still lost");
  EXPECT_EQ(reports.size(), 2u);
}
