// The file-transfer base on real files: lists from masks, the open file, state, the error
// limit, abort and skip, progress to a real progress bar through queued calls, and file
// names taken as the bytes they are.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <thread>

#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/platform/fileopen.h"
#include "vxcomm/platform/filesearch.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase.h"

namespace {

void WriteFile(const std::string& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  out << std::string(size, 'd');
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const TvxCustomFileTransfer& ft) {
  std::vector<std::string> names;
  for (int i = 0; i < ft.FileList().Count(); ++i) names.push_back(ft.FileList().Strings(i));
  return names;
}

struct Transfer {
  TvxTestLog log;
  TvxCustomFileTransfer ft;
  std::vector<std::string> fatal;
  Transfer() { ft.SetLog(&log); }
  // Records fatal errors and suppresses the raise.
  void Suppress() {
    ft.OnFatalError = [this](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                             bool& raise) {
      fatal.push_back(std::to_string(code) + "/" + std::to_string(detail) + " " + msg);
      raise = false;
    };
  }
};

// Exposes the protocol's setter for the announced size.
class Receiving : public TvxCustomFileTransfer {
 public:
  using TvxCustomFileTransfer::TvxCustomFileTransfer;
  ~Receiving() override { Destroying(); }
  using TvxCustomFileTransfer::SetErrorCount;
  using TvxCustomFileTransfer::SetReceivedSize;
};

}  // namespace

TEST(FtBaseFileList, MasksInSeveralDirectoriesInOrderUnderTheirDirectory) {
  std::string dir = MakeTempDir("ftbase-list");
  std::string a = dir + "/a/", b = dir + "/b/";
  QDir().mkpath(QString::fromStdString(a + "sub.txt"));  // a directory that matches
  QDir().mkpath(QString::fromStdString(b));
  WriteFile(a + "z.txt", 3);
  WriteFile(a + "m.txt", 10);
  WriteFile(a + "m.dat", 7);
  WriteFile(a + ".hidden.txt", 1);
  WriteFile(b + "one.txt", 100);
  WriteFile(b + "two.txt", 0);
  WriteFile(b + "t1.bin", 5);
  Transfer t;
  t.ft.BuildFileList(a + "*.txt;" + dir + "/none/*.txt," + b + "*.txt\r\n" + b + "t?.bin\n" + a +
                     "nothing*");
  EXPECT_EQ(Names(t.ft), (std::vector<std::string>{a + ".hidden.txt", a + "m.txt", a + "z.txt",
                                                   b + "one.txt", b + "two.txt", b + "t1.bin"}));
  std::int64_t sum = 0;
  for (int i = 0; i < t.ft.FileList().Count(); ++i) sum += t.ft.FileList().Sizes(i);
  EXPECT_EQ(sum, 119);
  EXPECT_EQ(t.ft.TotalSize(), sum);
  EXPECT_EQ(t.ft.FileList().Sizes(1), 10);

  // A bare name is searched, and listed, under DefaultPath; a second build replaces the list.
  t.ft.SetDefaultPath(b);
  t.ft.BuildFileList(" one.txt , *.bin");
  EXPECT_EQ(Names(t.ft), (std::vector<std::string>{b + "one.txt", b + "t1.bin"}));
  EXPECT_EQ(t.ft.TotalSize(), 105);
}

TEST(FtBaseFileList, NoMatchOrEmptyMaskIsFatal17_6) {
  std::string dir = MakeTempDir("ftbase-none");
  Transfer t;
  t.Suppress();
  t.ft.SendFiles("");
  t.ft.SendFiles(dir + "/*.nothing;;");
  EXPECT_EQ(t.fatal, (std::vector<std::string>{"17/6 There are no files for transmission.",
                                               "17/6 There are no files for transmission."}));
  EXPECT_TRUE(t.log.Has("Fatal Error: 17, 6, There are no files for transmission."));
  EXPECT_EQ(t.ft.TotalSize(), 0);
  t.ft.OnFatalError = nullptr;
  try {
    t.ft.SendFiles(dir + "/*");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "There are no files for transmission.");
  }
  WriteFile(dir + "/x", 4);
  t.ft.SendFiles(dir + "/*");
  EXPECT_EQ(t.ft.FileList().Count(), 1);
  EXPECT_TRUE(t.log.Has("vxDataProt: " + dir + "/*"));
}

TEST(FtBaseErrors, ErrorLimitThenTooManyErrorsAbortsTheTransfer) {
  Transfer t;
  t.Suppress();
  int errors = 0, changes = 0;
  t.ft.OnError = [&](TObject* sender) {
    EXPECT_EQ(sender, &t.ft);
    ++errors;
  };
  t.ft.OnChangeState = [&](TObject*) { ++changes; };
  EXPECT_EQ(t.ft.ErrorLimit(), 3);
  t.ft.SetState(fsSend);
  t.ft.SetState(fsSend);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(t.ft.CountError());
  EXPECT_TRUE(t.ft.CountError());
  EXPECT_TRUE(t.ft.CountError());
  EXPECT_EQ(errors, 3);
  EXPECT_TRUE(t.fatal.empty());
  EXPECT_FALSE(t.ft.CountError());
  EXPECT_EQ(errors, 3);
  EXPECT_EQ(t.ft.ErrorCount(), 4);
  EXPECT_EQ(t.fatal, std::vector<std::string>{"17/7 Too many errors."});
  EXPECT_EQ(t.ft.State(), fsListen);
  EXPECT_EQ(changes, 1);  // the abort changes State without the event
  std::vector<std::string> entries = t.log.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "vxDataProt: Transfer aborted. Too many errors.");
  EXPECT_EQ(entries[1], "Fatal Error: 17, 7, Too many errors.");

  Receiving r;
  r.SetErrorLimit(0);
  r.SetErrorCount(0);
  EXPECT_THROW(r.CountError(), Exception);
  r.SetReceivedSize(5);
  EXPECT_EQ(r.ReceivedSize(), 5);
}

TEST(FtBaseAbortAndSkip, AbortInListenWritesOnlyTheEntry) {
  Transfer t;
  int changes = 0;
  t.ft.OnChangeState = [&](TObject*) { ++changes; };
  t.ft.Abort();
  EXPECT_EQ(t.log.Entries(), std::vector<std::string>{"vxDataProt: Transfer aborted. "});
  EXPECT_EQ(t.ft.State(), fsListen);
  EXPECT_EQ(changes, 0);

  t.log.ClearLog();
  t.ft.SkipFile(true, false);  // nothing runs: nothing to skip
  EXPECT_TRUE(t.log.Entries().empty());
  t.ft.SetState(fsReceive);
  t.ft.SkipFile(true, false);
  t.ft.SkipFile(false, true);
  EXPECT_EQ(t.log.Entries(),
            (std::vector<std::string>{
                "vxDataProt: File transfer is skipped. File Group: 1. Deletion: 0",
                "vxDataProt: File transfer is skipped. File Group: 0. Deletion: 1"}));
  t.ft.Abort();
  EXPECT_EQ(t.ft.State(), fsListen);
}

TEST(FtBaseFiles, OpenCloseEventsNamesAndDefaultPath) {
  std::string dir = MakeTempDir("ftbase-files");
  Transfer t;
  t.ft.SetDefaultPath(dir);
  EXPECT_EQ(t.ft.DefaultPath(), dir + "/");
  std::vector<std::string> seen;
  t.ft.OnFileStart = [&](TObject*) { seen.push_back("start " + t.ft.FileName()); };
  t.ft.OnFileEnd = [&](TObject*) { seen.push_back("end " + t.ft.FileName()); };

  WriteFile(dir + "/recv.bin", 50);  // replaced by the create
  t.ft.OpenTransferFile("recv.bin", fmCreate);
  EXPECT_EQ(t.ft.FileName(), dir + "/recv.bin");
  t.ft.FileStream()->Write("abc", 3);
  EXPECT_EQ(t.ft.GetFilePosition(), 3);
  std::string other = MakeTempDir("ftbase-other") + "/named.bin";
  t.ft.OpenTransferFile(other, fmCreate);  // closes the first; a directory ignores DefaultPath
  t.ft.CloseTransferFile();
  EXPECT_EQ(t.ft.FileName(), "");
  EXPECT_EQ(t.ft.GetFilePosition(), 0);
  t.ft.CloseTransferFile();  // nothing open: no event
  EXPECT_EQ(seen,
            (std::vector<std::string>{"start " + dir + "/recv.bin", "end " + dir + "/recv.bin",
                                      "start " + other, "end " + other}));
  EXPECT_EQ(ReadAll(dir + "/recv.bin"), "abc");

  t.ft.OpenTransferFile("recv.bin", fmOpenRead);
  char buf[8] = {};
  EXPECT_EQ(t.ft.FileStream()->Read(buf, 8), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_THROW(t.ft.FileStream()->Write("x", 1), EWriteError);
  QDateTime when = QDateTime::fromSecsSinceEpoch(1'000'000'000);
  t.ft.SetTransferFileDate(when);
  t.ft.CloseTransferFile();
  EXPECT_EQ(QFileInfo(QString::fromStdString(dir + "/recv.bin")).lastModified().toSecsSinceEpoch(),
            1'000'000'000);

  EXPECT_THROW(t.ft.OpenTransferFile("missing.bin", fmOpenRead), EFOpenError);
  EXPECT_EQ(t.ft.FileName(), "");
  EXPECT_EQ(t.ft.FileStream(), nullptr);
  EXPECT_THROW(t.ft.OpenTransferFile(dir + "/no/such/dir/f", fmCreate), EFCreateError);
  EXPECT_THROW(t.ft.OpenTransferFile(dir, fmOpenRead), EFOpenError);  // a directory

  t.ft.SetDefaultPath("");
  EXPECT_EQ(t.ft.DefaultPath(), "");
  t.ft.SetDefaultPath("/in/");
  EXPECT_EQ(t.ft.DefaultPath(), "/in/");
}

TEST(FtBaseFiles, FatalErrorDuringATransferAbortsFirst) {
  Transfer t;
  t.Suppress();
  t.ft.SetState(fsReceive);
  t.ft.RaiseFatalError(17, 6, "There are no files for transmission.");
  EXPECT_EQ(t.ft.State(), fsListen);
  EXPECT_EQ(t.log.Entries().front(),
            "vxDataProt: Transfer aborted. There are no files for transmission.");
}

TEST(FtBaseProgress, QueuedRangeAndPositionFromAnyThread) {
  std::string dir = MakeTempDir("ftbase-progress");
  WriteFile(dir + "/f.bin", 1000);
  Transfer t;
  auto bar = std::make_unique<QProgressBar>();
  bar->setRange(0, 1);
  t.ft.SetTotalSize(77);
  t.ft.SetProgressBar(bar.get());
  EXPECT_EQ(bar->maximum(), 1);  // queued: not yet
  ASSERT_TRUE(WaitUntil([&] { return bar->maximum() == 77; }, 3000));

  int progress = 0;
  t.ft.OnProgress = [&](TObject*) { ++progress; };
  t.ft.OpenTransferFile(dir + "/f.bin", fmOpenRead);
  t.ft.FileStream()->Seek(600);
  std::thread worker([&] {
    t.ft.SetTotalSize(1000);
    t.ft.DoProgress();
  });
  worker.join();
  ASSERT_TRUE(WaitUntil([&] { return bar->value() == 600; }, 3000));
  EXPECT_EQ(bar->maximum(), 1000);
  EXPECT_EQ(progress, 1);

  bar.reset();
  EXPECT_EQ(t.ft.ProgressBar(), nullptr);
  t.ft.DoProgress();  // no bar: only the event
  EXPECT_EQ(progress, 2);
}

TEST(FtBaseLargeFiles, SizesBeyondTwoGiBAreListedAndScaledForTheBar) {
  std::string dir = MakeTempDir("ftbase-large");
  const std::int64_t big = (std::int64_t{3} << 30) + 12345;  // sparse: costs no disk
  {
    QFile f(QString::fromStdString(dir + "/big.img"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(big));
    ASSERT_TRUE(f.seek(big - 1));
    ASSERT_EQ(f.write("E", 1), 1);
  }
  WriteFile(dir + "/small.txt", 5);
  Transfer t;
  t.ft.BuildFileList(dir + "/*");
  ASSERT_EQ(t.ft.FileList().Count(), 2);
  EXPECT_EQ(t.ft.FileList().Sizes(0), big);
  EXPECT_EQ(t.ft.TotalSize(), big + 5);

  QProgressBar bar;
  t.ft.SetProgressBar(&bar);
  t.ft.OpenTransferFile(t.ft.FileList().Strings(0), fmOpenRead);
  t.ft.SetTotalSize(t.ft.FileList().Sizes(0));
  t.ft.FileStream()->Seek(big - 1);
  char last = 0;
  EXPECT_EQ(t.ft.FileStream()->Read(&last, 1), 1);
  EXPECT_EQ(last, 'E');
  EXPECT_EQ(t.ft.GetFilePosition(), big);
  t.ft.DoProgress();
  ASSERT_TRUE(WaitUntil([&] { return bar.value() > 0; }, 3000));
  EXPECT_GT(bar.maximum(), INT_MAX / 2);
  EXPECT_EQ(bar.value(), bar.maximum());  // at the end of the file: a full bar
  t.ft.CloseTransferFile();
}

TEST(FtBaseFileList, WildcardsAndPathSplitting) {
  EXPECT_TRUE(vxMatchWildcard("*", ""));
  EXPECT_TRUE(vxMatchWildcard("a*b*c", "axxbyybzc"));
  EXPECT_FALSE(vxMatchWildcard("a*b*c", "axxbyyb"));
  EXPECT_TRUE(vxMatchWildcard("?.t?t", "x.txt"));
  EXPECT_FALSE(vxMatchWildcard("?.txt", "xy.txt"));
  EXPECT_TRUE(vxMatchWildcard("[a].txt", "[a].txt"));  // brackets are plain characters
  EXPECT_FALSE(vxMatchWildcard("[a].txt", "a.txt"));
  EXPECT_FALSE(vxMatchWildcard("", "a"));
  EXPECT_TRUE(vxMatchWildcard("*.*", "a.b.c"));
  EXPECT_FALSE(vxMatchWildcard("*.txt", "a.TXT"));  // names are case-sensitive here
  std::string dir, name;
  vxSplitPath("/tmp/in/*.dat", dir, name);
  EXPECT_EQ(dir, "/tmp/in/");
  EXPECT_EQ(name, "*.dat");
  vxSplitPath("plain", dir, name);
  EXPECT_EQ(dir, "");
  EXPECT_EQ(name, "plain");
  vxSplitPath("trailing/", dir, name);
  EXPECT_EQ(dir, "trailing/");
  EXPECT_EQ(name, "");
  EXPECT_TRUE(vxFindFiles("/no/such/directory/", "*").empty());
}

TEST(FtBaseFileStream, BufferedReadsSeeksAndWritesMatchTheFileByteForByte) {
  const std::string path = MakeTempDir("ftbase-stream") + "/s.bin";
  std::string expected(200000, '\0');
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(i * 7 % 251);
  std::ofstream(path, std::ios::binary) << expected;
  {
    TvxFileStream f(path, fmOpenReadWrite);
    char buf[100];
    ASSERT_EQ(f.Read(buf, 90), 90);
    EXPECT_EQ(std::string(buf, 90), expected.substr(0, 90));
    f.Seek(50);  // back inside what was read ahead
    ASSERT_EQ(f.Read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), expected.substr(50, 10));
    EXPECT_EQ(f.Position(), 60);
    f.Seek(150000);  // beyond it
    ASSERT_EQ(f.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), expected.substr(150000, 5));
    f.Write("xyz", 3);  // lands where the reading stopped, not where the read-ahead did
    expected.replace(150005, 3, "xyz");
    EXPECT_EQ(f.Position(), 150008);
    ASSERT_EQ(f.Read(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), expected.substr(150008, 2));
    EXPECT_EQ(f.Size(), 200000);
    f.Seek(200000);
    const std::string large(100000, 'L');  // larger than the buffer: written through
    f.Write(large.data(), static_cast<std::int64_t>(large.size()));
    f.Write("tail", 4);
    expected += large + "tail";
    EXPECT_EQ(f.Size(), 300004);
    EXPECT_EQ(f.Position(), 300004);
    f.Seek(0);
    std::string all(expected.size() + 10, '\0');
    ASSERT_EQ(f.Read(all.data(), static_cast<std::int64_t>(all.size())), 300004);
    all.resize(300004);
    EXPECT_EQ(all, expected);
    f.Write("end", 3);  // left buffered for the destructor
    expected += "end";
  }
  EXPECT_EQ(ReadAll(path), expected);

  // A full disk: the buffered write succeeds, the flush reports it, the destructor is quiet.
  TvxFileStream full("/dev/full", fmOpenWrite);
  full.Write("data", 4);
  EXPECT_THROW(full.Flush(), EWriteError);
  full.Flush();  // reported once
}

namespace {

// The entry names of Dir exactly as the system stores them.
std::vector<std::string> RawEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string OpenFailure(const std::string& name, std::uint16_t mode) {
  try {
    TvxFileStream f(name, mode);
  } catch (const EFileStreamError& e) {
    return e.Message();
  }
  return "opened";
}

// Latin-1 "café.txt": not valid UTF-8, so no QString holds it.
const std::string kLatin1Name = "caf\xe9.txt";

}  // namespace

TEST(FtBaseFileNames, ANameThatIsNotUtf8IsListedOpenedAndReadAsItsBytes) {
  const std::string dir = MakeTempDir("ftbase-raw");
  std::ofstream(dir + "/" + kLatin1Name, std::ios::binary) << "latin-1 named";
  Transfer t;
  t.ft.BuildFileList(dir + "/caf?.txt");
  ASSERT_EQ(Names(t.ft), (std::vector<std::string>{dir + "/" + kLatin1Name}));
  EXPECT_EQ(t.ft.FileList().Sizes(0), 13);
  t.ft.BuildFileList(dir + "/caf\xe9.*");  // the byte itself in the mask
  ASSERT_EQ(Names(t.ft), (std::vector<std::string>{dir + "/" + kLatin1Name}));

  t.ft.OpenTransferFile(t.ft.FileList().Strings(0), fmOpenRead);
  EXPECT_EQ(t.ft.FileName(), dir + "/" + kLatin1Name);
  char buf[32] = {};
  ASSERT_EQ(t.ft.FileStream()->Read(buf, sizeof buf), 13);
  EXPECT_EQ(std::string(buf, 13), "latin-1 named");
  t.ft.CloseTransferFile();

  // A missing file of such a name is reported under the very same bytes.
  EXPECT_EQ(OpenFailure(dir + "/caf\xe9-gone.txt", fmOpenRead),
            "Cannot open file \"" + dir + "/caf\xe9-gone.txt\". No such file or directory");
}

TEST(FtBaseFileNames, AReceivedNameIsCreatedUnderItsBytesAndTakesItsDate) {
  const std::string dir = MakeTempDir("ftbase-rawcreate");
  Transfer t;
  t.ft.SetDefaultPath(dir);
  t.ft.OpenTransferFile(kLatin1Name, fmCreate);
  t.ft.FileStream()->Write("received", 8);
  t.ft.SetTransferFileDate(QDateTime::fromSecsSinceEpoch(1'234'567'890));
  t.ft.CloseTransferFile();
  // Exactly one entry, the name's own bytes: no replacement character (EF BF BD).
  EXPECT_EQ(RawEntries(dir), (std::vector<std::string>{kLatin1Name}));
  struct stat st {};
  ASSERT_EQ(::stat((dir + "/" + kLatin1Name).c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 8);
  EXPECT_EQ(st.st_mtime, 1'234'567'890);
  EXPECT_EQ(ReadAll(dir + "/" + kLatin1Name), "received");

  // Created again: emptied, not appended to.
  t.ft.OpenTransferFile(kLatin1Name, fmCreate);
  t.ft.FileStream()->Write("new", 3);
  t.ft.CloseTransferFile();
  EXPECT_EQ(ReadAll(dir + "/" + kLatin1Name), "new");

  // A new file gets 0666 less the umask, as any program's.
  const mode_t mask = ::umask(022);
  t.ft.OpenTransferFile("perm.bin", fmCreate);
  t.ft.CloseTransferFile();
  ::umask(mask);
  ASSERT_EQ(::stat((dir + "/perm.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(FtBaseFileNames, ADirectoryIsRefusedInEveryMode) {
  const std::string dir = MakeTempDir("ftbase-rawdir");
  const std::string sub = dir + "/caf\xe9.d";
  ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
  EXPECT_EQ(OpenFailure(sub, fmOpenRead), "Cannot open file \"" + sub + "\". Is a directory");
  EXPECT_EQ(OpenFailure(sub, fmOpenWrite), "Cannot open file \"" + sub + "\". Is a directory");
  EXPECT_EQ(OpenFailure(sub, fmOpenReadWrite), "Cannot open file \"" + sub + "\". Is a directory");
  EXPECT_EQ(OpenFailure(sub, fmCreate), "Cannot create file \"" + sub + "\". Is a directory");
  EXPECT_THROW(TvxFileStream(sub, fmCreate), EFCreateError);
  EXPECT_THROW(TvxFileStream(sub, fmOpenRead), EFOpenError);
  struct stat st {};
  ASSERT_EQ(::stat(sub.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << "left as it was";
}

TEST(FtBaseFileNames, AFileThatCannotBeCreatedOrOpenedNamesTheReason) {
  const std::string dir = MakeTempDir("ftbase-rawfail");
  EXPECT_EQ(OpenFailure(dir + "/no/such/caf\xe9", fmCreate),
            "Cannot create file \"" + dir + "/no/such/caf\xe9\". No such file or directory");
  std::ofstream(dir + "/plain", std::ios::binary) << "x";
  EXPECT_EQ(OpenFailure(dir + "/plain/inside", fmCreate),
            "Cannot create file \"" + dir + "/plain/inside\". Not a directory");
  EXPECT_EQ(OpenFailure(dir + "/missing", fmOpenWrite),
            "Cannot open file \"" + dir + "/missing\". No such file or directory");
  EXPECT_EQ(OpenFailure("", fmOpenRead), "Cannot open file \"\". No such file or directory");
  // A NUL would hide the rest of the name from the system: "plain" must not be opened.
  const std::string withNul = dir + "/plain" + std::string(1, '\0') + "x";
  EXPECT_EQ(OpenFailure(withNul, fmOpenRead),
            "Cannot open file \"" + dir + "/plain\\0x\". Invalid argument");
  EXPECT_EQ(OpenFailure(withNul, fmCreate),
            "Cannot create file \"" + dir + "/plain\\0x\". Invalid argument");
  EXPECT_EQ(ReadAll(dir + "/plain"), "x");
}

TEST(FtBaseFileNames, RemoveExistsAndWritableDirectoryTakeRawNames) {
  const std::string dir = MakeTempDir("ftbase-rawremove");
  const std::string file = dir + "/" + kLatin1Name;
  std::ofstream(file, std::ios::binary) << "x";
  EXPECT_TRUE(vxFileExists(file));
  EXPECT_FALSE(vxFileExists(dir + "/caf\xef\xbf\xbd.txt"));
  EXPECT_FALSE(vxFileExists(file + std::string(1, '\0')));
  EXPECT_FALSE(vxRemoveFile(file + std::string(1, '\0') + "x"));
  EXPECT_TRUE(vxRemoveFile(file));
  EXPECT_FALSE(vxFileExists(file));
  EXPECT_FALSE(vxRemoveFile(file)) << "gone already";
  EXPECT_FALSE(vxRemoveFile(dir)) << "a directory stays";
  EXPECT_TRUE(vxFileExists(dir));

  std::string reason;
  EXPECT_TRUE(vxWritableDirectory(dir, reason)) << reason;
  EXPECT_FALSE(vxWritableDirectory(dir + "/none", reason));
  EXPECT_EQ(reason, "No such file or directory");
  std::ofstream(file, std::ios::binary) << "x";
  EXPECT_FALSE(vxWritableDirectory(file, reason));
  EXPECT_EQ(reason, "Not a directory");
}
