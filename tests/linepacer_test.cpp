// The timing of a serial line between USB adapters: what the reader gets and when.
#include <gtest/gtest.h>

#include <random>

#include "support/linepacer.h"

namespace {

using Clock = LinePacer::Clock;
using std::chrono::microseconds;

// 115200 baud, 16 ms latency timer: 11 520 bytes a second, 86.8 us a byte.
const LinePacing kSlow = LinePacing::Adapter(115200, microseconds(16000));

// Feeds Data to the pacer as a writer that keeps the wire busy would, stepping the clock by
// Step, and records when each byte reached the reader.
std::vector<Clock::time_point> Feed(LinePacer& pacer, const std::string& data, Clock::time_point t0,
                                    microseconds step, std::string& got) {
  std::vector<Clock::time_point> at;
  std::size_t taken = 0;
  for (Clock::time_point now = t0; got.size() < data.size(); now += step) {
    const std::size_t n = pacer.Budget(now, data.size() - taken);
    pacer.Carry(data.substr(taken, n), now);
    taken += n;
    const std::size_t before = got.size();
    pacer.Release(now, got);
    at.insert(at.end(), got.size() - before, now);
    if (now > t0 + std::chrono::seconds(100)) break;
  }
  return at;
}

}  // namespace

TEST(LinePacer, UnpacedLineHandsEverythingOverAtOnce) {
  LinePacer pacer(LinePacing{});
  const Clock::time_point t0{};
  EXPECT_EQ(pacer.Budget(t0, 5000), 5000u);
  pacer.Carry("abc", t0);
  std::string out;
  pacer.Release(t0, out);
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(pacer.NextEvent(t0), Clock::time_point::max());
}

TEST(LinePacer, LongStreamArrivesInOrderAtTheLineRateAndNeverEarly) {
  std::mt19937 gen(7);
  std::string data(20000, '\0');
  for (char& c : data) c = static_cast<char>(gen());
  LinePacer pacer(kSlow);
  const Clock::time_point t0{std::chrono::seconds(1)};
  std::string got;
  const auto at = Feed(pacer, data, t0, microseconds(50), got);
  ASSERT_EQ(got, data);
  // Byte I cannot reach the reader before I + 1 byte times have passed.
  for (std::size_t i = 0; i < at.size(); i += 997)
    EXPECT_GE(at[i] - t0,
              microseconds(static_cast<long>((i + 1) * 1e6 / 11520.0)) - microseconds(100))
        << "byte " << i;
  // A fed wire runs at its rate: the whole lot within one byte time per byte and a timer.
  const double seconds = std::chrono::duration<double>(at.back() - t0).count();
  EXPECT_GT(seconds, 20000 / 11520.0 * 0.99);
  EXPECT_LT(seconds, 20000 / 11520.0 + 0.017 + 0.01);
}

TEST(LinePacer, ShortPacketWaitsForTheLatencyTimerAndFullUsbPacketsDoNot) {
  LinePacer pacer(kSlow);
  const Clock::time_point t0{std::chrono::seconds(5)};
  // Ten bytes cross in 868 us but reach the reader only at the timer's next tick.
  std::string ack(10, 'y'), got;
  const auto at = Feed(pacer, ack, t0, microseconds(100), got);
  ASSERT_EQ(got, ack);
  EXPECT_GE(at.back() - t0, microseconds(868));
  EXPECT_LE(at.back() - t0, microseconds(868 + 16000 + 100));
  // A 62-byte USB packet's worth goes as soon as the wire has brought it, timer or not.
  LinePacer full(kSlow);
  std::string packet(62, 'd'), got2;
  const Clock::time_point t1 = t0 + std::chrono::seconds(1);
  full.Release(t1, got2);  // the timer has just fired on nothing: the next is 16 ms away
  const auto at2 = Feed(full, packet, t1, microseconds(100), got2);
  ASSERT_EQ(got2, packet);
  EXPECT_LE(at2.back() - t1, microseconds(62 * 87 + 1100));
}

TEST(LinePacer, NextEventNamesWhenTheReaderGetsMore) {
  LinePacer pacer(kSlow);
  const Clock::time_point t0{std::chrono::seconds(3)};
  pacer.Carry(std::string(5, 'x'), t0);
  std::string got;
  pacer.Release(t0, got);
  EXPECT_TRUE(got.empty());
  // Nothing changes before the event named; the bytes go at one of them.
  Clock::time_point now = t0;
  for (int i = 0; i < 10 && got.empty(); ++i) {
    const Clock::time_point next = pacer.NextEvent(now);
    ASSERT_NE(next, Clock::time_point::max());
    ASSERT_GE(next, now);
    std::string early;
    pacer.Release(next - microseconds(1), early);
    EXPECT_TRUE(early.empty()) << "event " << i;
    now = next;
    pacer.Release(now, got);
  }
  EXPECT_EQ(got, std::string(5, 'x'));
  EXPECT_EQ(pacer.NextEvent(now + std::chrono::seconds(1)), Clock::time_point::max());
}
