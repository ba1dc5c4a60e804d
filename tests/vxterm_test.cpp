// The vxterm program as a user runs it: its console is a pseudo-terminal the test types into
// and reads, its line one end of a socat pair. Bytes cross both ways unchanged, each command
// answers (and tells when the device refused it), Kermit transfers to and from ckermit and
// gkermit start from the prompt (and by themselves with --auto-receive) and leave the
// terminal working, the device is reopened when it comes back, and the console's settings
// are restored however the program ends. The daily options (mappings, echo, pacing, logs,
// alerts) are checked on what reaches the line, the console and the files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QThread>
#include <memory>
#include <regex>

#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/lineleft.h"
#include "support/linepeer.h"
#include "support/ptyconsole.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/testseed.h"
#include "support/xmodemside.h"

using namespace kermitfiles;

namespace {

constexpr int kDeadlineMs = 30000;
constexpr char kEscape = PtyConsole::kCommandKey;

using Console = PtyConsole;

// A vxterm running with Console for its terminal.
class VxTerm : public ConsoleProgram {
 public:
  VxTerm(Console& console, const QStringList& args, const std::string& dir = "")
      : ConsoleProgram(console, VXTERM_BIN, args, dir), console_(console) {}
  // Waits for the connection message; false (with what the console showed) otherwise.
  bool Ready() { return console_.WaitFor("Ctrl-] opens the command prompt"); }

 private:
  Console& console_;
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
  void Write(const std::string& bytes) { WriteAllTo(fd_, bytes); }
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

// Types Command at the prompt, starts PeerCommand (an lrzsz program) in PeerDir on the far end
// of Pair once vxterm waits for it, and expects vxterm to end with Said and the peer with
// status 0; the terminal works afterwards.
void TransferWithLinePeer(Console& console, SocatPair& pair, const std::string& command,
                          const std::string& peerCommand, const std::string& peerDir,
                          const std::string& said) {
  SCOPED_TRACE(command);
  const std::size_t from = console.Seen().size();
  console.Command(command);
  ASSERT_TRUE(console.WaitFor("Ctrl-C cancels", from)) << console.Seen().substr(from);
  QProcess peer;
  StartLinePeer(peer, peerCommand, pair.B(), peerDir);
  EXPECT_TRUE(console.WaitFor("vxterm: " + said, from, 60000)) << console.Seen().substr(from);
  EXPECT_TRUE(LinePeerExited(peer));
  EXPECT_EQ(peer.exitCode(), 0) << console.Seen().substr(from);
  LineEnd line(pair.B());
  ExpectTerminalWorks(console, line, "after " + command);
}

// A vxterm on one end of a pair, the test holding the other end and the console.
struct Connected {
  explicit Connected(const QStringList& more = {}, const std::string& dir = "")
      : line(pair.B()), term(console, Args(pair.A(), more), dir) {}
  // Quits through the prompt: true when vxterm ended with status 0.
  bool Quit() {
    console.Command("quit");
    return term.Finish() == 0;
  }
  SocatPair pair;
  LineEnd line;
  Console console;
  VxTerm term;
};

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
                           "send -p P PATH...",
                           "receive -p P [DIR]",
                           "xmodem-1k, ymodem or zmodem",
                           "receive with kermit, ymodem or zmodem",
                           "break",
                           "dtr on|off",
                           "dtr pulse [MS]",
                           "rts on|off",
                           "rts pulse [MS]",
                           "lines",
                           "speed BPS",
                           "data-bits N",
                           "parity P",
                           "stop-bits N",
                           "flow F",
                           "echo on|off",
                           "send-hex HEX...",
                           "stats",
                           "the last 1 MiB is kept",
                           "--map <list>",
                           "--imap <list>",
                           "--omap <list>",
                           "crlf",
                           "crcrlf",
                           "igncr",
                           "lfcrlf",
                           "lfcr",
                           "ignlf",
                           "delbs",
                           "bsdel",
                           "--echo",
                           "--char-delay <ms>",
                           "--line-delay <ms>",
                           "--alert <how>",
                           "--rs485",
                           "--rs485-before <ms>",
                           "--rs485-after <ms>",
                           "--log-raw <file>",
                           "messages go to standard",
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

TEST(VxTerm, ListsThePortsWithTheirDevicePaths) {
  QProcess p;
  p.start(VXTERM_BIN, {"--list"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  const std::string out = p.readAllStandardOutput().toStdString();
  ASSERT_FALSE(out.empty());
  // Each port's line names its device; the details are indented beneath.
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find('\n', at);
    const std::string line = out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    if (line == "no serial ports found" || line.compare(0, 4, "    ") == 0) continue;
    EXPECT_NE(line.find("  /dev/"), std::string::npos) << line;
  }
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

// A program that holds the port through flock alone (no lock file) is named from the
// kernel's lock table.
TEST(VxTerm, APortHeldThroughFlockNamesItsHolder) {
  SocatPair line;
  char real[PATH_MAX];
  ASSERT_NE(::realpath(line.A().c_str(), real), nullptr);
  const int fd = ::open(real, O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  QProcess p;
  p.start(VXTERM_BIN, {QString::fromStdString(line.A())});
  ASSERT_TRUE(p.waitForFinished(10000));
  ::close(fd);
  EXPECT_EQ(p.exitCode(), 2);
  const std::string err = p.readAllStandardError().toStdString();
  EXPECT_NE(err.find("in use by process " + std::to_string(::getpid()) + " \"vxterm_test\""),
            std::string::npos)
      << err;
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

  // A group without read and write is no group to join: the owner is named instead.
  ASSERT_EQ(::chmod(real, 0600), 0);
  QProcess owner;
  owner.start("/usr/bin/setpriv",
              {"--reuid=65534", "--regid=65534", "--clear-groups", VXTERM_BIN, real});
  ASSERT_TRUE(owner.waitForFinished(10000));
  const std::string ownerErr = owner.readAllStandardError().toStdString();
  EXPECT_EQ(owner.exitCode(), 2) << ownerErr;
  EXPECT_EQ(ownerErr.find("join"), std::string::npos) << ownerErr;
  EXPECT_EQ(ownerErr.find("add the user"), std::string::npos) << ownerErr;
  EXPECT_NE(ownerErr.find("no group may use the device: only its owner \"root\" may open it"),
            std::string::npos)
      << ownerErr;
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
  // A pseudo-terminal has no modem lines: each modem-line command says the device refused.
  const Case cases[] = {
      {"dtr off", "vxterm: cannot set DTR off: Inappropriate ioctl for device"},
      {"dtr on", "vxterm: cannot set DTR on: Inappropriate ioctl for device"},
      {"rts off", "vxterm: cannot set RTS off: Inappropriate ioctl for device"},
      {"rts on", "vxterm: cannot set RTS on: Inappropriate ioctl for device"},
      {"dtr pulse 20", "vxterm: cannot set DTR off: Inappropriate ioctl for device"},
      {"rts pulse", "vxterm: cannot set RTS off: Inappropriate ioctl for device"},
      {"lines", "vxterm: cannot read the modem lines: Inappropriate ioctl for device"},
      {"break", "vxterm: break sent"},
      {"speed 9600", "vxterm: speed 9600 bps"},
      // A pseudo-terminal runs 8 bits without parity, whatever is asked of it.
      {"data-bits 7",
       "vxterm: the device refused 7 data bits: the device runs at 9600 bps, 8 data bits, "
       "parity none, stop bits 1"},
      {"parity even", "vxterm: the device refused parity even: the device runs at 9600 bps"},
      {"stop-bits 2", "vxterm: stop bits 2"},
      {"flow xonxoff", "vxterm: flow control xonxoff"},
      {"parity sideways", "vxterm: parity takes none, odd, even, mark, space"},
      {"flow none", "vxterm: flow control none"},
      {"speed 115200", "vxterm: speed 115200 bps"},
      {"data-bits 8", "vxterm: 8 data bits"},
      {"parity none", "vxterm: parity none"},
      {"stats", "vxterm: received 0 bytes, sent 0 bytes"},
      {"stop-bits 1", "vxterm: stop bits 1"},
      {"fly away", "vxterm: unknown command fly"},
      {"dtr maybe", "vxterm: dtr takes on, off or pulse [MS]"},
      {"help", "vxterm: commands: send [-p PROTO] PATH..."},
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
  EXPECT_NE(
      console.Seen().find("vxterm: commands: send [-p PROTO] PATH... | receive [-p PROTO] [DIR]"),
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
  line.Write("kept line\r\nwith\ttab\x01\r\n");
  ASSERT_TRUE(console.WaitFor("with\ttab", from));
  console.Command("log off");
  ASSERT_TRUE(console.WaitFor("closed", from));
  EXPECT_NE(ReadAll(log).find("< kept line"), std::string::npos) << ReadAll(log);
  EXPECT_NE(ReadAll(log).find("< with\\x09tab\\x01\n"), std::string::npos)
      << "one escape form for every control byte: " << ReadAll(log);
  // Every entry opens with an ISO 8601 date and time.
  EXPECT_TRUE(std::regex_search(
      ReadAll(log),
      std::regex(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) < kept line\n)")))
      << ReadAll(log);

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
  // The shell's prompt after vxterm starts on a fresh line.
  const std::string bye = "vxterm: disconnected from " + pair.A() + "\r\n";
  ASSERT_GE(console.Seen().size(), bye.size());
  EXPECT_EQ(console.Seen().substr(console.Seen().size() - bye.size()), bye);
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

// XMODEM and YMODEM receives from the prompt with lrzsz sending on the far end: every file
// arrives (the XMODEM one up to its padding), and the terminal works after each. (Sends are
// shown against U-Boot's loadx and loady in uboot_test; rb and rx may leave before their
// last answer reaches the line, which makes a send's end a matter of the peer's timing.)
TEST(VxTerm, XmodemAndYmodemReceivesFromThePromptWithLrzsz) {
  const std::string src = MakeTempDir("vxterm-xy-src"), back = MakeTempDir("vxterm-xy-back");
  const std::string one = RandomBytes(100000, 17) + EveryByte(4), two = Text();
  WriteAll(src + "/one.bin", one);
  WriteAll(src + "/two.txt", two);
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  const auto run = [&](const std::string& command, const std::string& peerCommand,
                       const std::string& said) {
    TransferWithLinePeer(console, pair, command, peerCommand, src, said);
  };
  run("receive -p ymodem " + back, "sb -q one.bin two.txt", "2 files received");
  EXPECT_EQ(ReadAll(back + "/one.bin"), one);
  EXPECT_EQ(ReadAll(back + "/two.txt"), two);
  run("receive -p xmodem " + back + "/x.bin", "sx -q one.bin", "1 file received");
  EXPECT_TRUE(SentUpToPadding(one, ReadAll(back + "/x.bin"), 128));
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

// ZMODEM from the prompt against lrzsz: receive -p zmodem takes sz's batch (100 KiB of random
// bytes and an empty file) and send -p zmodem gives rz the same, byte-identical both ways,
// nothing else stored, and the terminal works after each.
TEST(VxTerm, ZmodemReceivesAndSendsFromThePromptWithLrzsz) {
  const std::string src = MakeTempDir("vxterm-z-src"), back = MakeTempDir("vxterm-z-back"),
                    dst = MakeTempDir("vxterm-z-dst");
  const std::string one = RandomBytes(100 * 1024, TestSeed("VxTerm.ZmodemFromThePrompt"));
  WriteAll(src + "/one.bin", one);
  WriteAll(src + "/empty.bin", "");
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  const auto run = [&](const std::string& command, const std::string& peerCommand,
                       const std::string& peerDir, const std::string& said) {
    TransferWithLinePeer(console, pair, command, peerCommand, peerDir, said);
  };
  run("receive -p zmodem " + back, "sz -q one.bin empty.bin", src, "2 files received");
  EXPECT_TRUE(ReadAll(back + "/one.bin") == one);
  EXPECT_TRUE(Exists(back + "/empty.bin"));
  EXPECT_EQ(ReadAll(back + "/empty.bin"), "");
  EXPECT_EQ(EntriesOf(back), (std::vector<std::string>{"empty.bin", "one.bin"}));
  run("send -p zmodem " + src + "/one.bin " + src + "/empty.bin", "rz -q", dst, "2 files sent");
  EXPECT_TRUE(ReadAll(dst + "/one.bin") == one);
  EXPECT_TRUE(Exists(dst + "/empty.bin"));
  EXPECT_EQ(ReadAll(dst + "/empty.bin"), "");
  EXPECT_EQ(EntriesOf(dst), (std::vector<std::string>{"empty.bin", "one.bin"}));
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

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

// With --auto-receive a ZMODEM transfer the far end starts is taken as a Kermit one is:
// sz's batch (100 KiB of random bytes and an empty file) arrives by itself in the directory
// vxterm runs in, byte-identical, the text sz sends first is shown but no header, and the
// terminal works afterwards. An rz waiting on the far end is told of, not started; send -p
// zmodem then gives it the file.
TEST(VxTerm, AutoReceiveTakesAZmodemTransferAndTellsOfAWaitingReceiver) {
  const std::string src = MakeTempDir("vxterm-zauto-src"), here = MakeTempDir("vxterm-zauto"),
                    dst = MakeTempDir("vxterm-zauto-dst");
  const std::string one = RandomBytes(100 * 1024, TestSeed("VxTerm.ZmodemAutoReceive"));
  WriteAll(src + "/one.bin", one);
  WriteAll(src + "/empty.bin", "");
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A(), {"--auto-receive"}), here);
  ASSERT_TRUE(term.Ready()) << console.Seen();
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "before");
  }
  std::size_t from = console.Seen().size();
  {
    QProcess sz;
    StartLinePeer(sz, "sz -q one.bin empty.bin", pair.B(), src);
    EXPECT_TRUE(console.WaitFor("vxterm: the far end sends by ZMODEM: receiving into .", from))
        << console.Seen().substr(from);
    EXPECT_TRUE(console.WaitFor("vxterm: 2 files received", from, 60000))
        << console.Seen().substr(from);
    EXPECT_TRUE(LinePeerExited(sz));
    EXPECT_EQ(sz.exitCode(), 0) << console.Seen().substr(from);
  }
  EXPECT_TRUE(ReadAll(here + "/one.bin") == one);
  EXPECT_TRUE(Exists(here + "/empty.bin"));
  EXPECT_EQ(ReadAll(here + "/empty.bin"), "");
  EXPECT_EQ(EntriesOf(here), (std::vector<std::string>{"empty.bin", "one.bin"}));
  // sz's "rz" came before its header, as text; no byte of a header reached the console.
  EXPECT_NE(console.Seen().find("rz", from), std::string::npos) << console.Seen().substr(from);
  EXPECT_EQ(console.Seen().find('\x18', from), std::string::npos) << console.Seen().substr(from);
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after sz");
  }
  from = console.Seen().size();
  {
    QProcess rz;
    StartLinePeer(rz, "rz -q", pair.B(), dst);
    ASSERT_TRUE(console.WaitFor(
        "vxterm: the far end waits for files (ZMODEM): type send -p zmodem FILE...", from))
        << console.Seen().substr(from);
    EXPECT_EQ(console.Seen().find('\x18', from), std::string::npos) << console.Seen().substr(from);
    // Told, not started: nothing runs until the user says what to send.
    EXPECT_EQ(console.Seen().find("Ctrl-C cancels", from), std::string::npos)
        << console.Seen().substr(from);
    console.Command("send -p zmodem " + src + "/one.bin");
    EXPECT_TRUE(console.WaitFor("vxterm: 1 file sent", from, 60000)) << console.Seen().substr(from);
    EXPECT_TRUE(LinePeerExited(rz));
    EXPECT_EQ(rz.exitCode(), 0) << console.Seen().substr(from);
  }
  EXPECT_TRUE(ReadAll(dst + "/one.bin") == one);
  EXPECT_EQ(EntriesOf(dst), std::vector<std::string>{"one.bin"});
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after rz");
  }
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

// Without --auto-receive sz's start is text on the console and starts nothing; receive -p
// zmodem then takes its file into the directory vxterm runs in.
TEST(VxTerm, WithoutAutoReceiveAZmodemStartWaitsForTheReceiveCommand) {
  const std::string src = MakeTempDir("vxterm-znoauto-src"), here = MakeTempDir("vxterm-znoauto");
  const std::string one = RandomBytes(30000, TestSeed("VxTerm.ZmodemWithoutAutoReceive"));
  WriteAll(src + "/one.bin", one);
  SocatPair pair;
  Console console;
  VxTerm term(console, Args(pair.A()), here);
  ASSERT_TRUE(term.Ready()) << console.Seen();
  std::size_t from = console.Seen().size();
  QProcess sz;
  StartLinePeer(sz, "sz -q one.bin", pair.B(), src);
  // The header's type, data and CRC, shown as the text they are.
  ASSERT_TRUE(console.WaitFor("B00000000000000", from)) << console.Seen().substr(from);
  EXPECT_EQ(console.Seen().find("receiving", from), std::string::npos)
      << console.Seen().substr(from);
  EXPECT_TRUE(EntriesOf(here).empty());
  from = console.Seen().size();
  console.Command("receive -p zmodem");
  EXPECT_TRUE(console.WaitFor("receiving into . by ZMODEM", from)) << console.Seen().substr(from);
  EXPECT_TRUE(console.WaitFor("vxterm: 1 file received", from, 60000))
      << console.Seen().substr(from);
  EXPECT_TRUE(LinePeerExited(sz));
  EXPECT_EQ(sz.exitCode(), 0) << console.Seen().substr(from);
  EXPECT_TRUE(ReadAll(here + "/one.bin") == one);
  EXPECT_EQ(EntriesOf(here), std::vector<std::string>{"one.bin"});
  {
    LineEnd line(pair.B());
    ExpectTerminalWorks(console, line, "after sz");
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
  const std::string pair_a = pair->A();
  Console console;
  VxTerm term(console, Args(pair->A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  const std::size_t from = console.Seen().size();
  pair.reset();  // unplugged
  // Said with the system's reason for the loss.
  ASSERT_TRUE(console.WaitFor(
      pair_a + " went away: " + std::strerror(EIO) + "; waiting for " + dir + "/A", from))
      << console.Seen();
  pair = std::make_unique<SocatPair>(dir);  // plugged back in
  ASSERT_TRUE(console.WaitFor("is back: reconnected", from)) << console.Seen();
  LineEnd line(pair->B());
  ExpectTerminalWorks(console, line, "after reconnect");
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_TRUE(console.Restored());
}

namespace {

// A raw TCP port server on loopback: socat listens and, for the connection it takes, makes
// the pseudo-terminal Dir/far that stands for the server's serial port; it lasts as long as
// that connection. Port 0 takes a free port, which Port() then tells.
class TcpPortServer {
 public:
  TcpPortServer(const std::string& dir, int port) : far_(dir + "/far") {
    socat_.setProgram("socat");
    socat_.setArguments({"-d", "-d", QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                         QString::fromStdString("pty,raw,echo=0,link=" + far_)});
    socat_.start();
    if (!socat_.waitForStarted(5000)) throw std::runtime_error("socat did not start");
    // socat says where it listens ("listening on AF=2 127.0.0.1:PORT") before it accepts.
    const std::regex listening("listening on AF=2 127\\.0\\.0\\.1:([0-9]+)");
    std::smatch found;
    std::string said;
    const bool ready = WaitUntil(
        [&] {
          socat_.waitForReadyRead(50);
          said += socat_.readAllStandardError().toStdString();
          return std::regex_search(said, found, listening);
        },
        5000);
    if (!ready) throw std::runtime_error("socat does not listen: " + said);
    port_ = std::stoi(found[1]);
  }
  ~TcpPortServer() {
    socat_.terminate();  // socat closes the connection and removes its link
    if (!socat_.waitForFinished(2000)) {
      socat_.kill();
      socat_.waitForFinished(2000);
    }
  }
  int Port() const { return port_; }
  // The server's serial port, once a client connected.
  std::unique_ptr<LineEnd> Far() {
    struct stat st;
    if (!WaitUntil([&] { return ::stat(far_.c_str(), &st) == 0; }, kDeadlineMs)) return {};
    return std::make_unique<LineEnd>(far_);
  }

 private:
  QProcess socat_;
  std::string far_;
  int port_ = 0;
};

}  // namespace

TEST(VxTerm, ReconnectsToAPortServerThatComesBack) {
  const std::string dir = MakeTempDir("vxterm-net");
  auto server = std::make_unique<TcpPortServer>(dir, 0);
  const int port = server->Port();
  const std::string device = "tcp://127.0.0.1:" + std::to_string(port);
  Console console;
  VxTerm term(console, Args(device));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  {
    auto far = server->Far();
    ASSERT_TRUE(far);
    ExpectTerminalWorks(console, *far, "before the cut");
  }
  const std::size_t from = console.Seen().size();
  server.reset();  // the server goes away, and the connection with it
  ASSERT_TRUE(console.WaitFor(device + " went away", from)) << console.Seen();
  ASSERT_TRUE(console.WaitFor("waiting for " + device, from)) << console.Seen();
  server = std::make_unique<TcpPortServer>(dir, port);
  ASSERT_TRUE(console.WaitFor(device + " is back: reconnected", from)) << console.Seen();
  auto far = server->Far();
  ASSERT_TRUE(far);
  ExpectTerminalWorks(console, *far, "after reconnect");
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

TEST(VxTerm, EndedDuringAReceiveTellsThePeerAndLeavesTheLineAsFound) {
  // ckermit sends: vxterm ended part-way reads what ckermit still sends until ckermit hears
  // the E, so the relay between them is not left full and ckermit ends at once.
  const std::string src = MakeTempDir("vxterm-src"), dst = MakeTempDir("vxterm-dst");
  WriteAll(src + "/big.bin", RandomBytes(64u << 20, 12));
  SocatPair pair;
  const struct termios found = LineSettingsOf(pair.A());
  Console console;
  VxTerm term(console, Args(pair.A()));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  const std::size_t from = console.Seen().size();
  console.Command("receive " + dst);
  ASSERT_TRUE(console.WaitFor("waiting for the sender", from)) << console.Seen().substr(from);
  auto peer = KermitPeer::Send(KermitPeer::CKermit, pair.B(), {src + "/big.bin"}, src, 120);
  ASSERT_TRUE(console.WaitFor(" MiB of 64.0 MiB", from)) << console.Seen().substr(from);
  term.Terminate();
  EXPECT_EQ(term.Finish(), 128 + SIGTERM);
  EXPECT_TRUE(peer->Wait(15000)) << "the peer never heard of the end";
  EXPECT_NE(peer->ExitCode(), 0) << peer->Output();
  EXPECT_TRUE(LockFilesOf(pair.A()).empty());
  EXPECT_TRUE(SameLineSettings(LineSettingsOf(pair.A()), found));
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
    const std::string device = pair->A();
    pair.reset();
    EXPECT_EQ(term.Finish(), 1);
    EXPECT_NE(console.Seen().find(device + " went away: " + std::strerror(EIO)), std::string::npos)
        << console.Seen();
    EXPECT_TRUE(console.Restored());
  }
}

// Ctrl-], "sen", then Left, Up, F1 and Delete: the keys' sequences stay at the prompt, the
// line is still "sen" plus what is typed after, and Escape alone leaves. Nothing reached
// the device but what was typed in the terminal afterwards.
TEST(VxTerm, KeySequencesAtThePromptNeverReachTheLine) {
  Connected c;
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  const std::size_t from = c.console.Seen().size();
  c.console.Type(std::string(1, kEscape) + "sen\x1b[D\x1b[A\x1bOP\x1b[3~");
  ASSERT_TRUE(c.console.WaitFor("vxterm> sen", from)) << c.console.Seen().substr(from);
  c.console.Type("d");
  ASSERT_TRUE(c.console.WaitFor("vxterm> send", from)) << c.console.Seen().substr(from);
  c.console.Type("\x1b");
  ASSERT_TRUE(c.console.WaitFor("\0338", from)) << "Escape alone closes the prompt";
  c.console.Type("after");
  EXPECT_EQ(c.line.Read(5), "after");
  EXPECT_TRUE(c.Quit());
}

// What the line sends while the prompt is open waits for it to close; beyond the limit the
// oldest is dropped, and the user is told how much: the newest 1 MiB is shown, the rest is
// counted. The raw log tells when vxterm has taken every byte.
TEST(VxTerm, HeldOutputBeyondTheLimitIsAnnounced) {
  const std::string raw = MakeTempDir("vxterm-held") + "/raw.bin";
  Connected c({"--log-raw", QString::fromStdString(raw)});
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  const std::size_t from = c.console.Seen().size();
  c.console.Type(std::string(1, kEscape));
  ASSERT_TRUE(c.console.WaitFor("vxterm> ", from));
  // 'Z' is in no message of vxterm's.
  const std::size_t total = 3u << 20, kept = 1u << 20;
  c.line.Write(std::string(total, 'Z'));
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(raw).size() == total; }, kDeadlineMs))
      << ReadAll(raw).size();
  c.console.Type("\x03");
  const std::string told = "vxterm: " + std::to_string(total - kept) +
                           " bytes of output were dropped while the prompt was open (it keeps "
                           "the last 1 MiB)";
  ASSERT_TRUE(c.console.WaitFor(told, from)) << c.console.Seen().substr(from, 200);
  const std::string seen = c.console.Seen().substr(from);
  EXPECT_EQ(static_cast<std::size_t>(std::count(seen.begin(), seen.end(), 'Z')), kept);
  EXPECT_TRUE(c.Quit());
}

// A vxterm whose standard input is a pipe; what it writes to standard output and standard
// error is kept apart.
struct PipedVxTerm {
  explicit PipedVxTerm(const std::string& device) {
    p.start(VXTERM_BIN, {QString::fromStdString(device)});
  }
  void Read() {
    out += p.readAllStandardOutput().toStdString();
    err += p.readAllStandardError().toStdString();
  }
  // Waits until Needle is on standard error; true when it came.
  bool WaitForErr(const std::string& needle) {
    return WaitUntil(
        [&] {
          Read();
          return err.find(needle) != std::string::npos;
        },
        kDeadlineMs);
  }
  QProcess p;
  std::string out, err;
};

// With standard input a pipe, standard output carries the line's bytes and nothing else;
// vxterm's messages go to standard error.
TEST(VxTerm, InPipeModeMessagesGoToStandardError) {
  SocatPair pair;
  LineEnd line(pair.B());
  PipedVxTerm t(pair.A());
  QProcess& p = t.p;
  std::string &out = t.out, &err = t.err;
  auto read = [&] { t.Read(); };
  ASSERT_TRUE(t.WaitForErr("vxterm: connected to " + pair.A())) << err;
  line.Write("from the board\r\n");
  ASSERT_TRUE(WaitUntil(
      [&] {
        read();
        return out.find("board\r\n") != std::string::npos;
      },
      kDeadlineMs))
      << out;
  p.write("typed\n");
  EXPECT_EQ(line.Read(6), "typed\n");
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(kDeadlineMs));
  read();
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_EQ(out, "from the board\r\n");
  EXPECT_NE(err.find("vxterm: disconnected from " + pair.A() + "\n"), std::string::npos) << err;
}

// In pipe mode a transfer's progress goes to standard error too: standard output holds the
// line's bytes alone.
TEST(VxTerm, InPipeModeATransfersProgressGoesToStandardError) {
  const std::string src = MakeTempDir("vxterm-pipe-src"), dst = MakeTempDir("vxterm-pipe-dst");
  WriteAll(src + "/p.bin", RandomBytes(300000, 31));
  SocatPair pair;
  PipedVxTerm t(pair.A());
  QProcess& p = t.p;
  std::string &out = t.out, &err = t.err;
  auto read = [&] { t.Read(); };
  ASSERT_TRUE(t.WaitForErr("vxterm: connected to ")) << err;
  auto peer = KermitPeer::Receive(KermitPeer::CKermit, pair.B(), dst, 60);
  p.write(QByteArray(1, kEscape) + QByteArray::fromStdString("send " + src + "/p.bin\r"));
  ASSERT_TRUE(t.WaitForErr("vxterm: 1 file sent")) << err;
  EXPECT_TRUE(peer->Wait(20000));
  EXPECT_TRUE(ReadAll(dst + "/p.bin") == ReadAll(src + "/p.bin"));
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(kDeadlineMs));
  read();
  EXPECT_NE(err.find("p.bin  293.0 KiB of 293.0 KiB  100%"), std::string::npos) << err;
  EXPECT_EQ(out, "") << "standard output holds only what the line sent";
}

// --imap lfcrlf turns a board's bare LF into CR LF on the console; --omap crlf sends Enter
// as LF; --echo shows what is typed; the mappings leave every other byte alone.
TEST(VxTerm, MappingsAndLocalEchoChangeOnlyWhatTheyName) {
  Connected c({"--imap", "lfcrlf", "--omap", "crlf,delbs", "--echo"});
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  std::size_t from = c.console.Seen().size();
  c.line.Write("one\ntwo\r\n\tend");
  ASSERT_TRUE(c.console.WaitFor("end", from));
  EXPECT_EQ(c.console.Seen().substr(from), "one\r\ntwo\r\r\n\tend");
  from = c.console.Seen().size();
  c.console.Type("ls\x7f\r");
  EXPECT_EQ(c.line.Read(4), "ls\b\n");
  // The echo is what was sent, shown as the received bytes are.
  ASSERT_TRUE(c.console.WaitFor("ls\b\r\n", from)) << c.console.Seen().substr(from);
  c.console.Command("echo off");
  ASSERT_TRUE(c.console.WaitFor("vxterm: local echo off", from));
  from = c.console.Seen().size();
  c.console.Type("quiet");
  EXPECT_EQ(c.line.Read(5), "quiet");
  c.line.Write("!");
  ASSERT_TRUE(c.console.WaitFor("!", from));
  EXPECT_EQ(c.console.Seen().find("quiet", from), std::string::npos);
  EXPECT_TRUE(c.Quit());
}

TEST(VxTerm, BadMappingsDelaysAndAlertsAreUsageErrors) {
  for (const QStringList& args :
       {QStringList{"--map", "crlf,sideways", "/dev/null"}, QStringList{"--imap", "", "/dev/null"},
        QStringList{"--char-delay", "-1", "/dev/null"},
        QStringList{"--line-delay", "10001", "/dev/null"},
        QStringList{"--alert", "siren", "/dev/null"},
        QStringList{"--rs485", "--rs485-after", "1001", "/dev/null"},
        QStringList{"--rs485-before", "5", "/dev/null"}}) {
    QProcess p;
    p.start(VXTERM_BIN, args);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
    EXPECT_NE(p.readAllStandardError().indexOf("vxterm: bad --"), -1)
        << args.join(' ').toStdString();
  }
}

// send-hex puts the bytes on the line as given; stats counts what crossed each way.
TEST(VxTerm, HexInputAndTheCountersTellWhatCrossed) {
  Connected c;
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  std::size_t from = c.console.Seen().size();
  c.console.Command("send-hex 01 02 ff 0d0a 00");
  EXPECT_EQ(c.line.Read(6), std::string("\x01\x02\xff\r\n\0", 6));
  ASSERT_TRUE(c.console.WaitFor("vxterm: sending 6 bytes", from));
  c.line.Write("0123456789");
  ASSERT_TRUE(c.console.WaitFor("0123456789", from));
  c.console.Type("abcd");
  EXPECT_EQ(c.line.Read(4), "abcd");
  c.console.Command("send-hex zz");
  ASSERT_TRUE(c.console.WaitFor("vxterm: not hex bytes: zz", from));
  from = c.console.Seen().size();
  c.console.Command("stats");
  EXPECT_TRUE(c.console.WaitFor("vxterm: received 10 bytes, sent 10 bytes", from))
      << c.console.Seen().substr(from);
  EXPECT_TRUE(c.Quit());
}

// --log-raw keeps every byte received exactly as it came, control bytes and all, beside the
// console showing them.
TEST(VxTerm, TheRawLogHoldsTheBytesAsReceived) {
  const std::string dir = MakeTempDir("vxterm-raw");
  const std::string raw = dir + "/raw.bin";
  Connected c({"--log-raw", QString::fromStdString(raw)});
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  const std::string sent = EveryByte(3) + "tail";
  const std::size_t from = c.console.Seen().size();
  c.line.Write(sent);
  ASSERT_TRUE(c.console.WaitFor("tail", from));
  EXPECT_TRUE(c.Quit());
  EXPECT_TRUE(ReadAll(raw) == sent) << ReadAll(raw).size() << " of " << sent.size();

  QProcess refused;
  refused.start(VXTERM_BIN,
                {"--log-raw", "/nonexistent/dir/raw.bin", QString::fromStdString(c.pair.A())});
  ASSERT_TRUE(refused.waitForFinished(10000));
  EXPECT_EQ(refused.exitCode(), 2);
  EXPECT_NE(refused.readAllStandardError().indexOf("cannot write /nonexistent/dir/raw.bin"), -1);
}

// Paced typing (a paste into a slow board) delivers every byte, in order.
TEST(VxTerm, PacedTypingDeliversEveryByteInOrder) {
  Connected c({"--char-delay", "1", "--line-delay", "20"});
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  std::string paste;
  for (int i = 0; i < 20; ++i) paste += "line " + std::to_string(i) + "\r";
  c.console.Type(paste);
  EXPECT_EQ(c.line.Read(paste.size()), paste);
  EXPECT_TRUE(c.Quit());
}

// --alert bell rings at the connect, at the loss of the device and at its return.
TEST(VxTerm, AlertsRingAtConnectAndDisconnect) {
  const std::string dir = MakeTempDir("vxterm-bell");
  auto pair = std::make_unique<SocatPair>(dir);
  Console console;
  VxTerm term(console, Args(pair->A(), {"--alert", "bell"}));
  ASSERT_TRUE(term.Ready()) << console.Seen();
  ASSERT_TRUE(console.WaitFor("opens the command prompt\r\n\a"));
  const std::size_t from = console.Seen().size();
  pair.reset();
  ASSERT_TRUE(console.WaitFor("to come back (Ctrl-] and quit to leave)\r\n\a", from))
      << console.Seen().substr(from);
  pair = std::make_unique<SocatPair>(dir);
  ASSERT_TRUE(console.WaitFor("reconnected with the same settings\r\n\a", from))
      << console.Seen().substr(from);
  console.Command("quit");
  EXPECT_EQ(term.Finish(), 0);
}

// RS-485 mode with turn-around delays on a line whose driver cannot do it (a
// pseudo-terminal): RTS is switched in software around each send, and bytes still cross
// both ways, whole.
TEST(VxTerm, Rs485ModeStillCarriesTheBytes) {
  Connected c({"--rs485", "--rs485-before", "2", "--rs485-after", "2"});
  ASSERT_TRUE(c.term.Ready()) << c.console.Seen();
  ExpectTerminalWorks(c.console, c.line, "half duplex");
  EXPECT_TRUE(c.Quit());
}
