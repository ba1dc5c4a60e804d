// The demo window's transfer speed beside the command-line program's on the same line: the
// window (offscreen) sends a random file to ckermit over scripts/virtual-port-pair with the
// basic protocol it starts with and with the extended one its Kermit dialog offers, and
// vxkermit sends the same file over the same pair, each RUNS times in turn; medians, and each
// against vxkermit. Every run's copy is compared with the file sent.
// Usage: demo_bench [SIZE_KB (default 3000)]; RUNS from the environment (default 3).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/testui.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"

namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The pair with ckermit receiving into Dir at COM6; the window's end is COM5.
class Pair {
 public:
  explicit Pair(const std::string& dir) {
    script_.setProgram(QString(VXCOMM_SOURCE_DIR) + "/scripts/virtual-port-pair");
    script_.setArguments({"-n", "5", "--receive", QString::fromStdString(dir)});
    script_.setStandardInputFile(QProcess::nullDevice());
    script_.start();
    ready_ = WaitUntil([] { return vxReadPortMap().count(5) && vxReadPortMap().count(6); }, 10000);
    QTest::qWait(500);  // ckermit starts listening right after the mappings
  }
  ~Pair() {
    script_.terminate();
    if (!script_.waitForFinished(5000)) script_.kill();
  }
  bool Ready() const { return ready_; }

 private:
  QProcess script_;
  bool ready_ = false;
};

// Seconds until Received holds exactly Data (after Start began the send); -1 when it never does.
double TimeUntilArrived(const std::function<void()>& start, const std::string& received,
                        const std::string& data) {
  fs::remove(received);
  // ckermit flushes its input as it starts listening again: a Send-Init that comes first is
  // lost and costs a whole reply time-out, which is ckermit's restart, not the transfer.
  QTest::qWait(1500);
  QElapsedTimer clock;
  clock.start();
  start();
  const bool whole = WaitUntil(
      [&] {
        std::error_code ec;
        return fs::file_size(received, ec) == data.size() && kermitfiles::ReadAll(received) == data;
      },
      120000);
  return whole ? clock.elapsed() / 1000.0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TvxTestUIServices ui;
  SetUIServices(&ui);
  const long sizeKb = argc > 1 ? std::atol(argv[1]) : 3000;
  const int runs = std::getenv("RUNS") ? std::atoi(std::getenv("RUNS")) : 3;
  const std::string dir = QDir::tempPath().toStdString() + "/vxcomm-demo-bench";
  fs::remove_all(dir);
  fs::create_directories(dir + "/in");
  const std::string file = dir + "/big.bin", received = dir + "/in/big.bin";
  const std::string data = kermitfiles::RandomBytes(static_cast<std::size_t>(sizeKb) * 1024, 5);
  kermitfiles::WriteAll(file, data);

  Pair pair(dir + "/in");
  if (!pair.Ready()) {
    std::fprintf(stderr, "demo_bench: no virtual port pair\n");
    return 1;
  }
  const std::string device = vxReadPortMap().at(5);
  std::vector<double> basic, extended, cli;
  for (int run = 0; run < runs; ++run) {
    for (bool ext : {false, true}) {
      TForm1 form;
      form.vxComm1->SetComPortNo(5);
      form.vxComm1->SetActive(true);
      if (ext) form.vxKermit1->SetOptions(TvxKermitOptions::Extended());
      form.eFiles->setText(QString::fromStdString(file));
      const double s = TimeUntilArrived([&] { form.Button1Click(nullptr); }, received, data);
      (ext ? extended : basic).push_back(s);
      WaitUntil([&] { return form.vxKermit1->State() == fsListen; }, 10000);
    }
    const double s = TimeUntilArrived(
        [&] {
          QProcess::startDetached(VXKERMIT_BIN, {"send", "--quiet", QString::fromStdString(device),
                                                 QString::fromStdString(file)});
        },
        received, data);
    cli.push_back(s);
  }
  SetUIServices(nullptr);
  for (const auto* v : {&basic, &extended, &cli})
    if (std::any_of(v->begin(), v->end(), [](double s) { return s < 0; })) {
      std::fprintf(stderr, "demo_bench: a transfer did not arrive whole\n");
      return 1;
    }
  const double base = Median(cli);
  std::printf("%ld kB to ckermit over a pty pair, medians of %d runs\n", sizeKb, runs);
  std::printf("  %-34s %8.2f s  %8.0f kB/s  x%.2f of vxkermit's time\n",
              "window, basic protocol (its start)", Median(basic), sizeKb / Median(basic),
              Median(basic) / base);
  std::printf("  %-34s %8.2f s  %8.0f kB/s  x%.2f of vxkermit's time\n",
              "window, extended protocol (dialog)", Median(extended), sizeKb / Median(extended),
              Median(extended) / base);
  std::printf("  %-34s %8.2f s  %8.0f kB/s\n", "vxkermit send (baseline)", base, sizeKb / base);
  return 0;
}
