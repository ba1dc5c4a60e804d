// The vxterm program as a user runs it: its console is a pseudo-terminal the test types into
// and reads, its line one end of a socat pair. Bytes cross both ways unchanged, each command
// answers, Kermit transfers to and from ckermit and gkermit start from the prompt (and by
// themselves with --auto-receive) and leave the terminal working, the device is reopened
// when it comes back, and the console's settings are restored however the program ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QThread>
#include <memory>
#include <regex>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"

using namespace kermitfiles;

namespace {

constexpr int kDeadlineMs = 30000;
constexpr char kEscape = 0x1d;  // Ctrl-]

// Writes all of Bytes to the non-blocking Fd, waiting while it is full.
void WriteFd(int fd, const std::string& bytes) {
  QElapsedTimer clock;
  clock.start();
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (clock.elapsed() > kDeadlineMs) {
      ADD_FAILURE() << "nobody read what was written: " << done << " of " << bytes.size();
      return;
    }
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      struct pollfd p = {fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

// The console of one vxterm run: a pseudo-terminal in the settings a shell leaves (cooked,
// echo), 24 rows of 80 columns. Everything vxterm writes is kept in Seen.
class Console {
 public:
  Console() {
    char name[256];
    struct winsize size {};
    size.ws_row = 24;
    size.ws_col = 80;
    if (openpty(&master_, &slave_, name, nullptr, &size) != 0) throw std::runtime_error("openpty");
    path_ = name;
    struct termios t;
    tcgetattr(slave_, &t);
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_oflag |= OPOST | ONLCR;
    t.c_iflag |= ICRNL;
    tcsetattr(slave_, TCSANOW, &t);
    tcgetattr(slave_, &before_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    reader_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, [this] { Drain(); });
  }
  ~Console() {
    reader_.reset();
    ::close(master_);
    ::close(slave_);
  }
  const std::string& Path() const { return path_; }
  const std::string& Seen() const { return seen_; }
  void Type(const std::string& keys) { WriteFd(master_, keys); }
  // The command key, then Line and Enter.
  void Command(const std::string& line) { Type(std::string(1, kEscape) + line + "\r"); }
  // Waits until Needle appears after From in what the console showed; true when it did.
  bool WaitFor(const std::string& needle, std::size_t from = 0, int timeoutMs = kDeadlineMs) {
    return WaitUntil(
        [&] {
          Drain();
          return seen_.find(needle, from) != std::string::npos;
        },
        timeoutMs);
  }
  // The console's settings now equal those before vxterm ran.
  bool Restored() const {
    struct termios now;
    tcgetattr(slave_, &now);
    return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag &&
           now.c_cflag == before_.c_cflag && now.c_lflag == before_.c_lflag &&
           std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(before_.c_cc));
  }
  void Drain() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0)
      seen_.append(buffer, static_cast<std::size_t>(n));
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string path_;
  struct termios before_ {};
  std::string seen_;
  std::unique_ptr<QSocketNotifier> reader_;
};

// A vxterm running on Device with Console for its terminal.
class VxTerm {
 public:
  VxTerm(Console& console, const QStringList& args, const std::string& dir = "")
      : console_(console) {
    process_.setProgram(VXTERM_BIN);
    process_.setArguments(args);
    const QString tty = QString::fromStdString(console.Path());
    process_.setStandardInputFile(tty);
    process_.setStandardOutputFile(tty);
    process_.setStandardErrorFile(tty);
    if (!dir.empty()) process_.setWorkingDirectory(QString::fromStdString(dir));
    process_.start();
  }
  ~VxTerm() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  // Waits for the connection message; false (with what the console showed) otherwise.
  bool Ready() { return console_.WaitFor("Ctrl-] opens the command prompt"); }
  // Waits for the end: the exit status, or -1 when it did not end in time.
  int Finish(int timeoutMs = kDeadlineMs) {
    WaitUntil([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs);
    if (process_.state() != QProcess::NotRunning) return -1;
    console_.Drain();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }
  void Terminate() { process_.terminate(); }

 private:
  Console& console_;
  QProcess process_;
};

// One end of the line, opened by the test.
class LineEnd {
 public:
  explicit LineEnd(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    // A peer run on this end before (gkermit) may have left it in canonical mode.
    struct termios raw;
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
  }
  ~LineEnd() { ::close(fd_); }
  void Write(const std::string& bytes) { WriteFd(fd_, bytes); }
  // Reads until Count bytes came or the deadline passed.
  std::string Read(std::size_t count, int timeoutMs = kDeadlineMs) {
    std::string out;
    WaitUntil(
        [&] {
          char buffer[4096];
          ssize_t n;
          while (out.size() < count &&
                 (n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()))) > 0)
            out.append(buffer, static_cast<std::size_t>(n));
          return out.size() >= count;
        },
        timeoutMs);
    return out;
  }

 private:
  int fd_ = -1;
};

QStringList Args(const std::string& device, const QStringList& more = {}) {
  return more + QStringList{QString::fromStdString(device)};
}

// Text from the line reaches the console, and typed text the line: the terminal works.
void ExpectTerminalWorks(Console& console, LineEnd& line, const std::string& tag) {
  const std::size_t from = console.Seen().size();
  line.Write("far says " + tag + "\r\n");
  EXPECT_TRUE(console.WaitFor("far says " + tag, from)) << console.Seen();
  console.Type("typed " + tag);
  const std::string typed = "typed " + tag;
  EXPECT_EQ(line.Read(typed.size()), typed);
}

}  // namespace

TEST(VxTerm, HelpListsCommandsAndOptions) {
  QProcess p;
  p.start(VXTERM_BIN, {"--help"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  const std::string out = p.readAllStandardOutput().toStdString();
  for (const char* text : {"vxterm [options] DEVICE",
                           "vxterm --list",
                           "send PATH...",
                           "receive [DIR]",
                           "break",
                           "dtr on|off",
                           "rts on|off",
                           "lines",
                           "log FILE | log off",
                           "hex on|off",
                           "timestamps on|off",
                           "quit",
                           "--escape <key>",
                           "--auto-receive",
                           "--no-reconnect",
                           "--speed <bps>",
                           "--parity <p>",
                           "--collision <p>",
                           "--flow <f>",
                           "--check <n>",
                           "--classic",
                           "--packet-length <n>",
                           "Exit status"})
    EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
}

TEST(VxTerm, ListsThePorts) {
  QProcess p;
  p.start(VXTERM_BIN, {"--list"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_FALSE(p.readAllStandardOutput().isEmpty());
}

TEST(VxTerm, UsageErrorsAndDevicesThatCannotBeOpenedEndWithStatusTwo) {
  for (const QStringList& args : {QStringList{}, QStringList{"--escape", "a", "/dev/null"},
                                  QStringList{"--speed", "x", "/dev/null"}}) {
    QProcess p;
    p.start(VXTERM_BIN, args);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
  }
  QProcess missing;
  missing.start(VXTERM_BIN, {"/nonexistent/tty"});
  ASSERT_TRUE(missing.waitForFinished(10000));
  EXPECT_EQ(missing.exitCode(), 2);
  EXPECT_NE(
      missing.readAllStandardError().toStdString().find("vxterm: cannot open /nonexistent/tty"),
      std::string::npos);

  // A device another vxterm holds: the message names the process that holds it.
  SocatPair line;
  Console console;
  VxTerm first(console, Args(line.A()));
  ASSERT_TRUE(first.Ready()) << console.Seen();
  QProcess second;
  second.start(VXTERM_BIN, {QString::fromStdString(line.A())});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitCode(), 2);
  const std::string err = second.readAllStandardError().toStdString();
  EXPECT_NE(err.find("in use by process"), std::string::npos) << err;
}

// A user who may not open the device is told which group to join.
TEST(VxTerm, ADeviceTheUserMayNotOpenNamesTheGroupToJoin) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  SocatPair pair;
  char real[PATH_MAX];
  ASSERT_NE(::realpath(pair.A().c_str(), real), nullptr);
  ASSERT_EQ(::chmod(real, 0660), 0);
  QProcess p;
  // The device itself: the pair's links lie in a directory only its owner may enter.
  p.start("/usr/bin/setpriv",
          {"--reuid=65534", "--regid=65534", "--clear-groups", VXTERM_BIN, real});
  ASSERT_TRUE(p.waitForFinished(10000));
  const std::string err = p.readAllStandardError().toStdString();
  if (err.find("setpriv:") != std::string::npos)
    GTEST_SKIP() << "the program cannot be run as another user here: " << err;
  EXPECT_EQ(p.exitCode(), 2) << err;
  EXPECT_NE(err.find("Permission denied (the device belongs to the group"), std::string::npos)
      << err;
  EXPECT_NE(err.find("add the user to that group"), std::string::npos) << err;
}

TEST(VxTerm, EveryByteValueCrossesBothWaysUnchanged) {
  SocatPair pair;
  LineEnd line(pair.B());
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);

  const std::size_t from = console.Seen().size();
  line.Write(all);
  ASSERT_TRUE(WaitUntil(
      [&] {
        console.Drain();
        return console.Seen().size() >= from + all.size();
      },
      kDeadlineMs));
  EXPECT_EQ(console.Seen().substr(from), all);

  // The command key typed twice sends itself.
  std::string typed;
  for (const char c : all) typed += c == kEscape ? std::string(2, kEscape) : std::string(1, c);
  console.Type(typed);
  EXPECT_EQ(line.Read(all.size()), all);
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
}

TEST(VxTerm, CommandsAnswer) {
  SocatPair pair;
  LineEnd line(pair.B());
  Console console;
  const std::string dir = MakeTempDir("vxterm-cmd");
  VxTerm term(console, Args(pair.A()), dir);
  ASSERT_TRUE(term.Ready()) << console.Seen();
  struct Case {
    const char* command;
    const char* answer;
  };
  const Case cases[] = {
      {"dtr off", "vxterm: DTR off"},
      {"dtr on", "vxterm: DTR on"},
      {"rts off", "vxterm: RTS off"},
      {"rts on", "vxterm: RTS on"},
      {"lines", "vxterm: CTS "},
      {"break", "vxterm: break sent"},
      {"fly away", "vxterm: unknown command fly"},
      {"dtr maybe", "vxterm: dtr takes on or off"},
      {"help", "vxterm: commands: send PATH..."},
  };
  for (const Case& c : cases) {
    const std::size_t from = console.Seen().size();
    console.Command(c.command);
    EXPECT_TRUE(console.WaitFor(c.answer, from)) << c.command << "\n" << console.Seen();
  }
  // The prompt is drawn on the bottom row.
  EXPECT_NE(console.Seen().find("\033[24;1H"), std::string::npos);
  EXPECT_NE(console.Seen().find("vxterm> "), std::string::npos);
  // An unknown command also gets the one-line help.
  EXPECT_NE(console.Seen().find("vxterm: commands: send PATH... | receive [DIR]"),
            std::string::npos);

  std::size_t from = console.Seen().size();
  console.Command("hex on");
  ASSERT_TRUE(console.WaitFor("hex view on", from));
  line.Write("AB\x01\xff");
  EXPECT_TRUE(console.WaitFor("41 42 01 FF ", from)) << console.Seen();
  console.Command("hex off");
  ASSERT_TRUE(console.WaitFor("hex view off", from));

  from = console.Seen().size();
  console.Command("timestamps on");
  ASSERT_TRUE(console.WaitFor("time stamps on", from));
  from = console.Seen().size();
  line.Write("stamped\r\n");
  ASSERT_TRUE(console.WaitFor("stamped", from)) << console.Seen();
  EXPECT_TRUE(std::regex_search(console.Seen().substr(from),
                                std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] stamped)")))
      << console.Seen().substr(from);
  console.Command("timestamps off");

  from = console.Seen().size();
  const std::string log = dir + "/session.log";
  console.Command("log " + log);
  ASSERT_TRUE(console.WaitFor("logging to " + log, from)) << console.Seen();
  line.Write("kept line\r\n");
  ASSERT_TRUE(console.WaitFor("kept line", from));
  console.Command("log off");
  ASSERT_TRUE(console.WaitFor("closed", from));
  EXPECT_NE(ReadAll(log).find("< kept line"), std::string::npos) << ReadAll(log);

  // A bare name is a file in the directory vxterm runs in.
  from = console.Seen().size();
  console.Command("log here.log");
  ASSERT_TRUE(console.WaitFor("logging to " + dir + "/here.log", from)) << console.Seen();
  line.Write("here line\r\n");
  ASSERT_TRUE(console.WaitFor("here line", from));
  console.Command("log off");
  ASSERT_TRUE(console.WaitFor("closed", from));
  EXPECT_NE(ReadAll(dir + "/here.log").find("< here line"), std::string::npos);

  from = console.Seen().size();
  console.Command("log /nonexistent/dir/x.log");
  EXPECT_TRUE(console.WaitFor("cannot write /nonexistent/dir/x.log", from));

  ExpectTerminalWorks(console, line, "after commands");
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

class VxTermPeer : public ::testing::TestWithParam<KermitPeer::Program> {};

TEST_P(VxTermPeer, SendsAndReceivesFromThePromptAndTheTerminalStillWorks) {
  const KermitPeer::Program program = GetParam();
  const std::string src = MakeTempDir("vxterm-src"), dst = MakeTempDir("vxterm-dst"),
                    back = MakeTempDir("vxterm-back");
  WriteAll(src + "/one.bin", RandomBytes(200000, 7) + EveryByte(8));
  WriteAll(src + "/two.txt", Text());
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  {
    auto peer = KermitPeer::Receive(program, pair.B(), dst, 60);
    const std::size_t from = console.Seen().size();
    console.Command("send " + src + "/one.bin " + src + "/two.txt");
    EXPECT_TRUE(console.WaitFor("vxterm: 2 files sent", from)) << console.Seen().substr(from);
    // The progress line, finished, with the whole size.
    EXPECT_NE(console.Seen().find("one.bin  197.3 KiB of 197.3 KiB  100%", from), std::string::npos)
        << console.Seen().substr(from);
    EXPECT_TRUE(peer->Wait(20000));
    EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
    EXPECT_TRUE(ReadAll(dst + "/one.bin") == ReadAll(src + "/one.bin"));
    EXPECT_TRUE(ReadAll(dst + "/two.txt") == ReadAll(src + "/two.txt"));
  }
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after send");
  }
  {
    const std::size_t from = console.Seen().size();
    console.Command("receive " + back);
    ASSERT_TRUE(console.WaitFor("waiting for the sender", from)) << console.Seen();
    auto peer = KermitPeer::Send(program, pair.B(), {src + "/one.bin", src + "/two.txt"}, src, 60);
    EXPECT_TRUE(console.WaitFor("vxterm: 2 files received", from)) << console.Seen().substr(from);
    EXPECT_TRUE(peer->Wait(20000));
    EXPECT_TRUE(ReadAll(back + "/one.bin") == ReadAll(src + "/one.bin"));
    EXPECT_TRUE(ReadAll(back + "/two.txt") == ReadAll(src + "/two.txt"));
  }
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after receive");
  }
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

INSTANTIATE_TEST_SUITE_P(Peers, VxTermPeer,
                         ::testing::Values(KermitPeer::CKermit, KermitPeer::GKermit),
                         [](const auto& info) {
                           return std::string(KermitPeer::Name(info.param));
                         });

TEST(VxTerm, AutoReceiveTakesATransferTheFarEndStarts) {
  const std::string src = MakeTempDir("vxterm-auto-src"), here = MakeTempDir("vxterm-auto");
  WriteAll(src + "/auto.bin", RandomBytes(50000, 11));
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A(), {"--auto-receive"}), here);
  ASSERT_TRUE(term.Ready()) << console.Seen();
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "before");
  }
  const std::size_t from = console.Seen().size();
  auto peer = KermitPeer::Send(KermitPeer::CKermit, pair.B(), {src + "/auto.bin"}, src, 60);
  EXPECT_TRUE(console.WaitFor("vxterm: 1 file received", from)) << console.Seen().substr(from);
  EXPECT_TRUE(peer->Wait(20000));
  EXPECT_EQ(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(ReadAll(here + "/auto.bin") == ReadAll(src + "/auto.bin"));
  // No packet reached the console as text.
  EXPECT_EQ(console.Seen().find('\x01', from), std::string::npos);
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after");
  }
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
}

TEST(VxTerm, ReceiveTakesTheSendInitThatCameJustBefore) {
  const std::string src = MakeTempDir("vxterm-late-src"), dst = MakeTempDir("vxterm-late");
  WriteAll(src + "/late.bin", RandomBytes(30000, 3));
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  std::size_t from = console.Seen().size();
  // The sender starts first; its Send-Init reaches the terminal as text.
  auto peer = KermitPeer::Send(KermitPeer::GKermit, pair.B(), {src + "/late.bin"}, src, 60);
  ASSERT_TRUE(console.WaitFor("\x01", from)) << console.Seen();
  ASSERT_TRUE(console.WaitFor("S~", from)) << console.Seen();
  from = console.Seen().size();
  console.Command("receive " + dst);
  EXPECT_TRUE(console.WaitFor("the far end sends: receiving into " + dst, from))
      << console.Seen().substr(from);
  EXPECT_TRUE(console.WaitFor("vxterm: 1 file received", from)) << console.Seen().substr(from);
  EXPECT_TRUE(peer->Wait(20000));
  EXPECT_TRUE(ReadAll(dst + "/late.bin") == ReadAll(src + "/late.bin"));
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
}

TEST(VxTerm, ReconnectsWhenTheDeviceComesBackUnderItsName) {
  const std::string dir = MakeTempDir("vxterm-plug");
  auto pair = std::make_unique<SocatPair>(dir);
  Console console;
  VxTerm term(console, Args(pair->A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  const std::size_t from = console.Seen().size();
  pair.reset();  // unplugged
  ASSERT_TRUE(console.WaitFor("went away; waiting for " + dir + "/A", from)) << console.Seen();
  pair = std::make_unique<SocatPair>(dir);  // plugged back in
  ASSERT_TRUE(console.WaitFor("is back: reconnected", from)) << console.Seen();
  LineEnd line(pair->B());
  ExpectTerminalWorks(console, line, "after reconnect");
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

TEST(VxTerm, QuittingDuringATransferTellsThePeer) {
  // vxterm ends part-way through a send: its E packet reaches the peer before the line
  // closes, so the peer ends at once with an error instead of waiting out its time-outs.
  const std::string src = MakeTempDir("vxterm-src"), dst = MakeTempDir("vxterm-dst");
  WriteAll(src + "/big.bin", RandomBytes(64u << 20, 11));
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, pair.B(), dst, 120);
  const std::size_t from = console.Seen().size();
  console.Command("send " + src + "/big.bin");
  ASSERT_TRUE(console.WaitFor(" MiB of 64.0 MiB", from)) << console.Seen().substr(from);
  term.Terminate();
  EXPECT_EQ(term.Finish(), 128 + SIGTERM);
  EXPECT_TRUE(peer->Wait(15000)) << "the peer never heard of the end";
  EXPECT_NE(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(console.Restored());
}

TEST(VxTerm, ConsoleSettingsAreRestoredAfterSigtermAndAVanishedDevice) {
  {
    SocatPair pair;
    Console console;
    VxTerm term(console, Args(pair.A()));
    ASSERT_TRUE(term.Ready()) << console.Seen();
    EXPECT_FALSE(console.Restored()) << "raw while connected";
    term.Terminate();
    EXPECT_EQ(term.Finish(), 128 + SIGTERM);
    EXPECT_TRUE(console.Restored());
  }
  {
    auto pair = std::make_unique<SocatPair>();
    Console console;
    VxTerm term(console, Args(pair->A(), {"--no-reconnect"}));
    ASSERT_TRUE(term.Ready()) << console.Seen();
    pair.reset();
    EXPECT_EQ(term.Finish(), 1);
    EXPECT_NE(console.Seen().find("went away"), std::string::npos) << console.Seen();
    EXPECT_TRUE(console.Restored());
  }
}
