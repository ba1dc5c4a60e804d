// The system side of the log file: the version text, the executable's path, the file
// primitives with their locks, and the debugger output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "logfile_fixture.h"
#include "vxcomm/platform/debugout.h"
#include "vxcomm/platform/logfileio.h"
#include "vxcomm/platform/sysinfo.h"
#include "vxcomm/unqualified.h"

TEST(VersionText, OperatingSystemTextHasKernelDistributionReleaseAndBuild) {
  utsname uts{};
  ASSERT_EQ(uname(&uts), 0);
  std::string pretty = vxOsReleasePrettyName(ReadBytes("/etc/os-release"));
  if (pretty.empty()) pretty = vxOsReleasePrettyName(ReadBytes("/usr/lib/os-release"));
  EXPECT_EQ(GetVersionText(""),
            std::string(uts.sysname) + " " + pretty + " [" + uts.release + "] " + uts.version);
  EXPECT_EQ(GetVersionText("", "%u"), GetVersionText(""));  // the format is for files
}

TEST(VersionText, OsReleaseQuotingIsUndone) {
  EXPECT_EQ(
      vxOsReleasePrettyName("NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n"),
      "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(vxOsReleasePrettyName("PRETTY_NAME='It''s \"quoted\"'"), "Its \"quoted\"");
  EXPECT_EQ(vxOsReleasePrettyName("PRETTY_NAME=\"A \\\"B\\\" \\$C\"\r\n"), "A \"B\" $C");
  EXPECT_EQ(vxOsReleasePrettyName("PRETTY_NAME=Plain # comment"), "Plain");
  EXPECT_EQ(vxOsReleasePrettyName("# PRETTY_NAME=no\nNAME=x\n"), "");
  EXPECT_EQ(vxOsReleasePrettyName("PRETTY_NAME=first\nPRETTY_NAME=second\n"), "second");
  EXPECT_EQ(vxOsReleasePrettyName(""), "");
}

TEST(VersionText, FileVersionComesFromASharedObjectsRealName) {
  std::string dir = MakeTempDir("logfile-version");
  WriteBytes(dir + "/libdemo.so.1.2.3", "not really a library");
  ASSERT_EQ(symlink("libdemo.so.1.2.3", (dir + "/libdemo.so.1").c_str()), 0);
  WriteBytes(dir + "/libfour.so.4.3.2.1", "x");
  WriteBytes(dir + "/plain.txt", "x");
  WriteBytes(dir + "/libbad.so.1.x", "x");
  WriteBytes(dir + "/libfive.so.1.2.3.4.5", "x");
  EXPECT_EQ(GetVersionText(dir + "/libdemo.so.1"), "1.2.3.0");
  EXPECT_EQ(GetVersionText(dir + "/libdemo.so.1.2.3", "%u.%u"), "1.2");
  EXPECT_EQ(GetVersionText(dir + "/libfour.so.4.3.2.1", "v%u-%u-%u-%u"), "v4-3-2-1");
  EXPECT_EQ(GetVersionText(dir + "/plain.txt"), "");
  EXPECT_EQ(GetVersionText(dir + "/libbad.so.1.x"), "");
  EXPECT_EQ(GetVersionText(dir + "/libfive.so.1.2.3.4.5"), "");
  EXPECT_EQ(GetVersionText(dir + "/missing.so.1"), "");
  EXPECT_THROW(GetVersionText(dir + "/libdemo.so.1", "%s"), EConvertError);
}

TEST(SystemInfo, ExecutablePathIsTheRunningProgram) {
  EXPECT_EQ(vxExecutablePath(), QCoreApplication::applicationFilePath().toStdString());
}

TEST(LogFileIO, CreatesAppendsAndKeepsTheNewestBytes) {
  std::string path = MakeTempDir("logfile-io") + "/io.log";
  TvxLogFileIO file;
  ASSERT_TRUE(file.Open(path, TvxLogFileIO::shExclusive));
  std::uint64_t size = 99;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(file.Append("0123456789", 10));
  ASSERT_TRUE(file.Append("abc", 3));
  ASSERT_TRUE(file.KeepNewest(5));
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 5u);
  file.Close();
  EXPECT_EQ(ReadBytes(path), "89abc");

  // A tail longer than one copy block moves intact.
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i % 23);
  ASSERT_TRUE(file.Open(path, TvxLogFileIO::shDenyWrite));
  ASSERT_TRUE(file.Append(big.data(), big.size()));
  ASSERT_TRUE(file.KeepNewest(200001));
  ASSERT_TRUE(file.KeepNewest(300000));  // more than there is keeps everything
  file.Close();
  EXPECT_EQ(ReadBytes(path), ("89abc" + big).substr(big.size() + 5 - 200001));
  ASSERT_TRUE(file.Open(path, TvxLogFileIO::shExclusive));
  ASSERT_TRUE(file.KeepNewest(0));
  file.Close();
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_TRUE(vxDeleteFile(path));
  EXPECT_FALSE(vxDeleteFile(path));
  EXPECT_FALSE(
      file.Open(MakeTempDir("logfile-io") + "/no/such/dir.log", TvxLogFileIO::shExclusive));
}

TEST(LogFileIO, ExclusiveShutsOutReadersAndWritersDenyWriteOnlyWriters) {
  std::string path = MakeTempDir("logfile-io") + "/share.log";
  WriteBytes(path, "x");
  int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(flock(reader, LOCK_SH | LOCK_NB), 0);
  TvxLogFileIO writer;
  EXPECT_FALSE(writer.Open(path, TvxLogFileIO::shExclusive)) << "a polite reader holds the file";
  EXPECT_TRUE(writer.Open(path, TvxLogFileIO::shDenyWrite))
      << "readers are welcome with deny-write";
  TvxLogFileIO second;
  EXPECT_FALSE(second.Open(path, TvxLogFileIO::shDenyWrite)) << "no second writer";
  EXPECT_FALSE(second.Open(path, TvxLogFileIO::shExclusive));
  writer.Close();
  ::close(reader);
  ASSERT_TRUE(writer.Open(path, TvxLogFileIO::shExclusive));
  EXPECT_FALSE(second.Open(path, TvxLogFileIO::shDenyWrite));
  reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(flock(reader, LOCK_SH | LOCK_NB), 0);
  char ch = 0;
  EXPECT_EQ(::read(reader, &ch, 1), 1) << "a reader that takes no lock still reads";
  ::close(reader);
  writer.Close();
  EXPECT_TRUE(second.Open(path, TvxLogFileIO::shDenyWrite));
}

TEST(LogFileShared, SharedLogFileLetsALockingReaderInWhileWriting) {
  std::string path = MakeTempDir("logfile-io") + "/sharedlog.log";
  TestLogFile log;
  PlainSafeLog(log, path);
  log.AddEntry("first");  // creates the file
  int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(flock(reader, LOCK_SH | LOCK_NB), 0);
  EXPECT_THROW(log.AddEntry("exclusive"), Exception);
  log.SetOptions({loSafeMode, loSharedLogFile});
  log.AddEntry("shared");
  EXPECT_EQ(log.Buffer(), "");
  ::close(reader);

  // While another writer has it, both kinds of open fail, and the entry waits in Buffer.
  TvxLogFileIO other;
  ASSERT_TRUE(other.Open(path, TvxLogFileIO::shDenyWrite));
  EXPECT_THROW(log.AddEntry("blocked"), Exception);
  other.Close();
  log.AddEntry("free");
  std::string bytes = ReadBytes(path);
  std::string tail = "\r\nfirst\r\nexclusive\r\nshared\r\nblocked\r\nfree";
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

TEST(DebugOutput, EntriesGoOutAsLinesWithoutTheirLineStart) {
  if (vxDebugOutputToJournal()) GTEST_SKIP() << "the journal takes the debugger output here";
  std::string path = MakeTempDir("logfile-debug") + "/stderr.txt";
  std::fflush(stderr);
  int saved = dup(2);
  int capture = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(capture, 0);
  dup2(capture, 2);
  vxOutputDebugString("before it is turned on");
  vxSetDebugOutputEnabled(true);
  vxOutputDebugString("plain\ttext");
  {
    TestLogFile log;
    log.SetOptions({loDebugOut});
    log.SetFileName("");
    log.AddEntry("to the debugger\r");
  }
  // Entries that no save could write leave through the debugger output at the end.
  std::string dir = MakeTempDir("logfile-debug");
  {
    TestLogFile log;
    PlainSafeLog(log, dir + "/missing/x.log");
    log.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    log.AddEntry("kept");
  }
  vxSetDebugOutputEnabled(false);
  std::fflush(stderr);
  dup2(saved, 2);
  ::close(saved);
  ::close(capture);
  std::string header = "vxComm Lib " VXCOMM_VERSION " on " + GetVersionText("");
  EXPECT_EQ(ReadBytes(path), "plain\ttext\n" + header + "\nto the debugger\\0Dh\n" +
                                 "Unsaved log entries:\r\n" + header + "\r\nkept\n");
}
