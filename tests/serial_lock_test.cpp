// UUCP lock files of the serial component: its own lock while a port is open, a port
// locked by another live program refused with that program named, stale locks of dead
// processes taken over, no lock directory or an unwritable one no obstacle, and the lock
// honoured both ways with ckermit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QProcess>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "vxcomm/platform/portlock.h"
#include "vxcomm/unqualified.h"

namespace fs = std::filesystem;

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LockText(int pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", pid);
  return text;
}

// A component on a fresh pseudo-terminal, with its lock files in a private directory.
class LockFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    vxSetLockDirectories({dir});
    comm.SetStreamProtocol(spNone);
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(80, pty.slavePath())));
  }
  void TearDown() override {
    comm.SetActive(false);
    vxSetLockDirectories({});
  }
  std::string LockFile() const { return dir + "/" + vxLockFileName(pty.slavePath()); }

  std::string dir = MakeTempDir("serial-lock");
  PtyPair pty;
  TvxComm comm;
};

// A process of another program, alive until the object goes.
class OtherProgram {
 public:
  OtherProgram() {
    process_.start("sleep", {"300"});
    if (!process_.waitForStarted(5000)) ADD_FAILURE() << "cannot start sleep";
    pid_ = static_cast<int>(process_.processId());
  }
  ~OtherProgram() { Kill(); }
  int Pid() const { return pid_; }
  void Kill() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(5000);
  }

 private:
  QProcess process_;
  int pid_ = 0;
};
}  // namespace

TEST(LockFileName, IsTheFileNameOfTheDeviceWithLinksFollowed) {
  PtyPair pty;
  const std::string number = pty.slavePath().substr(pty.slavePath().rfind('/') + 1);
  EXPECT_EQ(vxLockFileName(pty.slavePath()), "LCK.." + number);
  const std::string link = MakeTempDir("serial-lock-link") + "/ttyVirtual";
  fs::create_symlink(pty.slavePath(), link);
  EXPECT_EQ(vxLockFileName(link), "LCK.." + number);
  EXPECT_EQ(vxLockFileName("/dev/ttyS3"), "LCK..ttyS3");
  EXPECT_EQ(vxLockFileName("/dev/vx-not-there"), "LCK..vx-not-there");
  EXPECT_EQ(vxLockFileName(""), "");
}

TEST_F(LockFiles, AnOpenPortHoldsItsLockAndCloseRemovesIt) {
  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
  struct stat st;
  ASSERT_EQ(::stat(LockFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 11);
  comm.SetActive(false);
  EXPECT_FALSE(fs::exists(LockFile()));
  // Nothing else is left in the directory (no temporary files).
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(LockFiles, APortLockedByALiveProgramIsRefusedWithThatProgramNamed) {
  OtherProgram other;
  std::ofstream(LockFile()) << LockText(other.Pid());
  const std::string expected =
      "Device \"COM80\" Open Error !!!\rDevice or resource busy (the "
      "port is in use by process " +
      std::to_string(other.Pid()) + " \"sleep\", lock file " + LockFile() + ")";
  EXPECT_EQ(OpenErrorOf(comm), expected);
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.LastErrorText(), expected);
  EXPECT_EQ(ReadFile(LockFile()), LockText(other.Pid())) << "another program's lock stays";
  // The same through a COM number mapped to a symbolic link to the device.
  const std::string link = MakeTempDir("serial-lock-link") + "/ttyLinked";
  fs::create_symlink(pty.slavePath(), link);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(81, link)));
  EXPECT_NE(OpenErrorOf(comm).find("in use by process " + std::to_string(other.Pid())),
            std::string::npos);

  // Once the program is gone its lock is stale: removed, and the port opens.
  other.Kill();
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
  comm.SetActive(false);
  EXPECT_FALSE(fs::exists(LockFile()));
}

TEST_F(LockFiles, StaleAndMalformedLocksAreReplaced) {
  // A PID no process has (beyond the kernel's limit), the old binary format of a dead
  // process, and a lock without any PID.
  for (std::string content : {LockText(0x3FFFFFFF), std::string("\xff\xff\xff\x3f", 4),
                              std::string("garbage\n"), std::string()}) {
    std::ofstream(LockFile(), std::ios::binary) << content;
    EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
    EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
    comm.SetActive(false);
    EXPECT_FALSE(fs::exists(LockFile()));
  }
}

TEST_F(LockFiles, ALockOfAProcessThatExitedButIsNotReapedIsStale) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  // Until it is reaped the exited child still answers kill(pid, 0).
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  std::ofstream(LockFile(), std::ios::binary) << LockText(child);
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
  ::waitpid(child, nullptr, 0);
}

TEST_F(LockFiles, ALockOfAnotherPortIsNoObstacle) {
  OtherProgram other;
  std::ofstream(dir + "/LCK..ttyS99") << LockText(other.Pid());
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_EQ(ReadFile(dir + "/LCK..ttyS99"), LockText(other.Pid()));
}

TEST_F(LockFiles, ASecondOpenInThisProcessIsRefusedAndLeavesTheLock) {
  comm.SetActive(true);
  TvxComm second;
  second.SetComPortNo(80);
  EXPECT_EQ(OpenErrorOf(second), "Device \"COM80\" Open Error !!!\rDevice or resource busy");
  EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
  comm.SetActive(false);
  EXPECT_FALSE(fs::exists(LockFile()));
  EXPECT_EQ(OpenErrorOf(second), "(no exception)");
}

TEST_F(LockFiles, WithoutAUsableLockDirectoryThePortOpensAsBefore) {
  // Missing directories.
  vxSetLockDirectories({dir + "/missing", "/nonexistent/vx-lock"});
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  comm.SetActive(false);
  // A directory nobody may write to (sysfs refuses new files even to root).
  vxSetLockDirectories({"/sys"});
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_FALSE(fs::exists("/sys/" + vxLockFileName(pty.slavePath())));
  // The device's own lock still keeps a second open out.
  TvxComm second;
  second.SetComPortNo(80);
  EXPECT_EQ(OpenErrorOf(second), "Device \"COM80\" Open Error !!!\rDevice or resource busy");
  comm.SetActive(false);
  // An unwritable first directory: the lock goes to the next one.
  vxSetLockDirectories({"/sys", dir});
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_EQ(ReadFile(LockFile()), LockText(getpid()));
}

namespace {
// ckermit holding a line until it is killed.
class CKermitOnLine {
 public:
  explicit CKermitOnLine(const std::string& device) {
    process_.start("kermit", {"-Y", "-H", "-q", "-C",
                              QString::fromStdString("set modem type none, set carrier-watch off, "
                                                     "set line " +
                                                     device + ", pause 300, exit")});
    if (!process_.waitForStarted(5000)) ADD_FAILURE() << "cannot start kermit";
    pid_ = static_cast<int>(process_.processId());
  }
  ~CKermitOnLine() { Kill(); }
  int Pid() const { return pid_; }
  void Kill() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();  // SIGKILL: ckermit cannot remove its lock
    process_.waitForFinished(5000);
  }

 private:
  QProcess process_;
  int pid_ = 0;
};

// ckermit's exit status for "set line Device" while this process may hold it: 0 when it
// took the line, 3 when it was refused.
int CKermitTakesLine(const std::string& device) {
  QProcess kermit;
  kermit.start("kermit",
               {"-Y", "-H", "-q", "-C",
                QString::fromStdString("set modem type none, set carrier-watch off, set line " +
                                       device + ", if fail exit 3, exit 0")});
  if (!kermit.waitForFinished(20000)) return -1;
  return kermit.exitCode();
}

bool HaveRealLockDirectory() {
  return access("/run/lock", W_OK) == 0 &&
         QProcess::execute("kermit", {"-Y", "-H", "-C", "exit"}) == 0;
}
}  // namespace

TEST(LockFilesWithCKermit, APortCKermitHoldsIsRefusedAndOursIsRefusedToCKermit) {
  if (!HaveRealLockDirectory()) GTEST_SKIP() << "no writable /run/lock or no kermit here";
  vxSetLockDirectories({});
  PtyPair pty;
  const std::string lock = "/run/lock/" + vxLockFileName(pty.slavePath());
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(82, pty.slavePath())));
  {
    CKermitOnLine kermit(pty.slavePath());
    // Ready once its lock names it.
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(lock) == LockText(kermit.Pid()); }, 20000))
        << ReadFile(lock);
    EXPECT_EQ(OpenErrorOf(comm),
              "Device \"COM82\" Open Error !!!\rDevice or resource busy (the "
              "port is in use by process " +
                  std::to_string(kermit.Pid()) + " \"kermit\", lock file " + lock + ")");
    EXPECT_FALSE(comm.Active());
    kermit.Kill();
    EXPECT_EQ(ReadFile(lock), LockText(kermit.Pid())) << "killed, ckermit left its lock";
  }
  // The dead ckermit's lock is stale.
  EXPECT_EQ(OpenErrorOf(comm), "(no exception)");
  EXPECT_EQ(ReadFile(lock), LockText(getpid()));
  EXPECT_EQ(CKermitTakesLine(pty.slavePath()), 3) << "ckermit honours our lock";
  comm.SetActive(false);
  EXPECT_FALSE(fs::exists(lock));
  EXPECT_EQ(CKermitTakesLine(pty.slavePath()), 0);
}
