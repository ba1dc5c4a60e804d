// The serial component's receive path over a pseudo-terminal pair, beside a baseline run
// in the same process on a fresh pair: a plain poll+read thread that hands each block to
// the main thread, as the component does with UseMainThread.
//
// Latency: one byte written at the far end to its delivery on the main thread (median and
// 99th percentile of kSamples). Throughput: kBulk bytes written as fast as the line takes
// them, first write to last delivery. Best of kRounds alternating rounds for each side.
// Targets: median latency ratio <= 1.1, throughput ratio >= 1.0.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kSamples = 400;
constexpr std::size_t kBulk = 32u << 20;
constexpr int kRounds = 3;

struct Pair {
  Pair() {
    struct termios raw;
    cfmakeraw(&raw);
    char name[256];
    openpty(&master, &keeper, name, &raw, nullptr);
    path = name;
  }
  ~Pair() {
    ::close(master);
    ::close(keeper);
  }
  void Write(const char* data, std::size_t len) const {
    while (len > 0) {
      ssize_t n = ::write(master, data, len);
      if (n > 0) {
        data += n;
        len -= static_cast<std::size_t>(n);
      } else {
        struct pollfd p = {master, POLLOUT, 0};
        ::poll(&p, 1, 1000);
      }
    }
  }
  int master = -1, keeper = -1;
  std::string path;
};

// What reaches the main thread, written there and read by the driver.
struct Sink {
  std::atomic<std::size_t> bytes{0};
  std::atomic<std::int64_t> last_ns{0};
  void Got(std::size_t n) {
    last_ns = Clock::now().time_since_epoch().count();
    bytes += n;
    bytes.notify_all();
  }
};

struct Figures {
  double median_us = 0, p99_us = 0, mb_per_s = 0;
};

// Runs Driver on a thread of its own while the main thread runs its event loop.
void WithEventLoop(const std::function<void()>& driver) {
  std::thread thread([&] {
    driver();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  QCoreApplication::exec();
  thread.join();
}

Figures Measure(const Pair& pair, Sink& sink) {
  Figures f;
  std::vector<double> samples;
  WithEventLoop([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < kSamples; ++i) {
      std::size_t before = sink.bytes;
      Clock::time_point start = Clock::now();
      pair.Write("x", 1);
      sink.bytes.wait(before);
      double us = (sink.last_ns - start.time_since_epoch().count()) / 1000.0;
      samples.push_back(us);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    std::string block(65536, 'b');
    std::size_t before = sink.bytes;
    Clock::time_point start = Clock::now();
    for (std::size_t sent = 0; sent < kBulk; sent += block.size())
      pair.Write(block.data(), block.size());
    for (std::size_t now = sink.bytes; now < before + kBulk; now = sink.bytes) sink.bytes.wait(now);
    double seconds = (sink.last_ns - start.time_since_epoch().count()) / 1e9;
    f.mb_per_s = kBulk / seconds / 1e6;
  });
  std::sort(samples.begin(), samples.end());
  f.median_us = samples[samples.size() / 2];
  f.p99_us = samples[samples.size() * 99 / 100];
  return f;
}

Figures Component() {
  Pair pair;
  Sink sink;
  TvxComm comm;
  auto* device = new TvxDevice;
  device->PortNumber = comm.ComPortNo();
  device->PortName = pair.path;
  comm.AddDevice(device);
  comm.SetStreamProtocol(spNone);
  comm.OnAfterReceive = [&](TObject*, const void*, Cardinal n) { sink.Got(n); };
  comm.SetActive(true);
  Figures f = Measure(pair, sink);
  comm.SetActive(false);
  return f;
}

Figures Baseline() {
  Pair pair;
  Sink sink;
  int fd = ::open(pair.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<char> buffer(8192);
    while (!stop) {
      struct pollfd p = {fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n <= 0) continue;
      auto block = std::make_shared<std::string>(buffer.data(), static_cast<std::size_t>(n));
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [&sink, block] { sink.Got(block->size()); },
          Qt::BlockingQueuedConnection);
    }
  });
  Figures f = Measure(pair, sink);
  stop = true;
  reader.join();
  ::close(fd);
  return f;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Alternating rounds, each side's best kept, so that load from elsewhere on the machine
  // weighs on both alike.
  Figures base{1e30, 1e30, 0}, ours{1e30, 1e30, 0};
  for (int round = 0; round < kRounds; ++round) {
    for (auto [side, measure] : {std::pair{&base, &Baseline}, std::pair{&ours, &Component}}) {
      Figures f = measure();
      side->median_us = std::min(side->median_us, f.median_us);
      side->p99_us = std::min(side->p99_us, f.p99_us);
      side->mb_per_s = std::max(side->mb_per_s, f.mb_per_s);
    }
  }
  std::printf(
      "latency median: component %.1f us, poll+read baseline %.1f us, ratio %.2f (target <= "
      "1.10)\n",
      ours.median_us, base.median_us, ours.median_us / base.median_us);
  std::printf("latency p99:    component %.1f us, poll+read baseline %.1f us, ratio %.2f\n",
              ours.p99_us, base.p99_us, ours.p99_us / base.p99_us);
  std::printf(
      "throughput:     component %.1f MB/s, poll+read baseline %.1f MB/s, ratio %.2f (target >= "
      "1.00)\n",
      ours.mb_per_s, base.mb_per_s, ours.mb_per_s / base.mb_per_s);
  return 0;
}
