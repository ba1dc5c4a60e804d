// Uses an installed vxComm Lib through its public headers only: two serial components on
// the two ends of a pseudo-terminal pair (made by socat) exchange bytes, then a Kermit
// component sends a file to another. Exits 0 only when the bytes and the file arrived
// identical.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"

using namespace vxcomm;  // this program's own file: the library's names unqualified

namespace {

// Runs the event loop until Done; false if it is still not done after a minute (a hang).
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 60000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int passed = 0, failed = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  ok ? ++passed : ++failed;
}

void Configure(TvxComm& comm, std::vector<std::string>& errors) {
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.OnFatalError = [&errors](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    errors.push_back(msg);
    raise = false;
  };
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();

  // A linked pair of pseudo-terminals; ready when both links exist.
  const std::string a = base + "/ttyA", b = base + "/ttyB";
  QProcess socat;
  socat.start("socat", {QString::fromStdString("pty,raw,echo=0,link=" + a),
                        QString::fromStdString("pty,raw,echo=0,link=" + b)});
  if (!socat.waitForStarted() ||
      !WaitFor([&] { return std::filesystem::exists(a) && std::filesystem::exists(b); })) {
    std::printf("FAILED: socat made no pseudo-terminal pair\n0 passed, 1 failed\n");
    return 1;
  }

  std::vector<std::string> errors;
  TvxComm left, right;
  left.SetDeviceName(a);
  right.SetDeviceName(b);
  Configure(left, errors);
  Configure(right, errors);
  std::string received;
  right.OnAfterReceive = [&received](TObject*, const void* data, Cardinal len) {
    received.append(static_cast<const char*>(data), len);
  };
  left.SetActive(true);
  right.SetActive(true);
  Check(left.Active() && right.Active(), "both ends open");

  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i % 256);
  left.SendString(bytes);
  WaitFor([&] { return received.size() >= bytes.size(); });
  Check(received == bytes, "4096 bytes arrive identical through OnAfterReceive");
  right.OnAfterReceive = nullptr;

  // Kermit: Sender on the left sends a file of random bytes to Receiver on the right.
  const unsigned seed = std::random_device{}();
  std::printf("file seed %u\n", seed);
  std::mt19937 random(seed);
  std::string content(300000, '\0');
  for (char& c : content) c = static_cast<char>(random());
  const std::string sendDir = base + "/out/", recvDir = base + "/in/";
  std::filesystem::create_directories(sendDir);
  std::filesystem::create_directories(recvDir);
  std::ofstream(sendDir + "payload.bin", std::ios::binary) << content;

  TvxKermit sender, receiver;
  bool sent = false, got = false;
  for (TvxKermit* k : {&sender, &receiver}) {
    k->OnFatalError = [&errors](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
      errors.push_back(msg);
      raise = false;
    };
  }
  sender.OnChangeState = [&](TObject*) { sent = sender.State() == fsListen; };
  receiver.OnChangeState = [&](TObject*) { got = receiver.State() == fsListen; };
  receiver.SetDefaultPath(recvDir);
  left.SetDataProcessor(&sender);
  right.SetDataProcessor(&receiver);
  sender.SetActive(true);
  receiver.SetActive(true);
  sender.SendFiles(sendDir + "payload.bin");
  WaitFor([&] { return (sent && got) || !errors.empty(); });
  Check(errors.empty(), "no fatal error");
  Check(ReadFile(recvDir + "payload.bin") == content, "the file arrives identical");

  left.SetActive(false);
  right.SetActive(false);
  for (const std::string& e : errors) std::printf("error: %s\n", e.c_str());
  socat.terminate();
  socat.waitForFinished();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
