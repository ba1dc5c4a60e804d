// The ZMODEM frame layer under random input: random headers and subpackets (every byte
// value, every end, both CRCs, with and without every control character escaped) round-trip
// whole; random bytes never read as a sound frame; a frame damaged where its CRC must see it
// (one bit of a CRC-16 frame's data, or anything at all with CRC-32: flips, drops,
// insertions, repeats) never reads as sound, and no damage ever reads as a frame other than
// the one sent. The seed is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <vector>

#include "support/testseed.h"
#include "vxcomm/vxzmodem/frame.h"
#include "vxcomm/vxzmodem/reader.h"

using namespace vxcomm::vxzmodem;

namespace {

struct TFrames {
  std::vector<THeader> headers;
  std::vector<std::vector<std::uint8_t>> data;
  std::vector<std::uint8_t> ends;
  int bad = 0;
  int cancels = 0;
};

// Feeds Line to a reader that expects a subpacket after every ZDATA header.
TFrames Read(const std::vector<std::uint8_t>& line) {
  TFrameReader reader;
  TFrames got;
  for (const std::uint8_t b : line) {
    switch (reader.Take(b)) {
      case TFrameEvent::kHeader:
        got.headers.push_back(reader.Header());
        if (reader.Header().type == ZDATA) reader.ExpectSubpacket();
        break;
      case TFrameEvent::kSubpacket:
        got.data.push_back(reader.Data());
        got.ends.push_back(reader.End());
        break;
      case TFrameEvent::kBadHeader:
      case TFrameEvent::kBadSubpacket:
        ++got.bad;
        break;
      case TFrameEvent::kCancel:
        ++got.cancels;
        break;
      case TFrameEvent::kNone:
        break;
    }
  }
  return got;
}

std::vector<std::uint8_t> RandomData(std::mt19937& rng, std::size_t max) {
  std::vector<std::uint8_t> data(rng() % (max + 1));
  // Now and then a run of the bytes escaping is about.
  const std::uint8_t special[] = {0x18, 0x10, 0x11, 0x13, 0x90, 0x91, 0x93, 0x98, '@',
                                  '\r', 0x8D, 0xC0, 0x7F, 0xFF, '*',  'h',  'k'};
  for (auto& b : data)
    b = rng() % 3 == 0 ? special[rng() % std::size(special)] : static_cast<std::uint8_t>(rng());
  return data;
}

THeader RandomHeader(std::mt19937& rng) {
  THeader h = THeader::At(static_cast<std::uint8_t>(rng() % 20), static_cast<std::uint32_t>(rng()));
  if (h.type == ZDATA) h.type = ZACK;  // no subpacket follows these
  return h;
}

bool Same(const THeader& a, const THeader& b) {
  return a.type == b.type && std::equal(a.data, a.data + 4, b.data);
}

const std::uint8_t kEnds[] = {kZCrcE, kZCrcG, kZCrcQ, kZCrcW};

// A ZDATA header and its subpacket: the line, with what it carries.
struct TSample {
  std::vector<std::uint8_t> line;
  THeader header;
  std::vector<std::uint8_t> data;
  std::uint8_t end = 0;
};

TSample DataFrame(std::mt19937& rng, bool crc32, bool controls) {
  TSample s;
  TFrameEncoder enc;
  enc.SetEscapeControls(controls);
  s.header = THeader::At(ZDATA, static_cast<std::uint32_t>(rng()));
  s.data = RandomData(rng, 300);
  s.end = kEnds[rng() % 4];
  enc.Binary(s.header, crc32, s.line);
  enc.Subpacket(s.data.data(), s.data.size(), s.end, crc32, s.line);
  return s;
}

// True when Got holds nothing but (some of) what Sample sent.
bool OnlyWhatWasSent(const TFrames& got, const TSample& sample) {
  for (const THeader& h : got.headers)
    if (!Same(h, sample.header)) return false;
  for (std::size_t i = 0; i < got.data.size(); ++i)
    if (got.data[i] != sample.data || got.ends[i] != sample.end) return false;
  return true;
}

}  // namespace

TEST(ZModemFrameFuzz, SoundFramesRoundTrip) {
  std::mt19937 rng(TestSeed("ZModemFrameFuzz.SoundFramesRoundTrip"));
  for (int round = 0; round < 3000; ++round) {
    const bool crc32 = rng() % 2 == 0;
    const bool controls = rng() % 2 == 0;
    TFrameEncoder enc;
    enc.SetEscapeControls(controls);
    std::vector<std::uint8_t> line;
    const THeader a = RandomHeader(rng);
    const int form = static_cast<int>(rng() % 3);
    if (form == 0)
      enc.Hex(a, line);
    else
      enc.Binary(a, form == 2, line);
    const THeader d = THeader::At(ZDATA, static_cast<std::uint32_t>(rng()));
    enc.Binary(d, crc32, line);
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<std::uint8_t> ends;
    const int count = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < count; ++i) {
      sent.push_back(RandomData(rng, i == 0 ? kMaxSubpacket : 200));
      // Only the last ends in a way that a header follows.
      ends.push_back(i + 1 == count ? kEnds[rng() % 2 == 0 ? 0 : 3] : kEnds[1 + rng() % 2]);
      enc.Subpacket(sent.back().data(), sent.back().size(), ends.back(), crc32, line);
    }
    if (!controls) {
      // Nothing a line's flow control or an escaping peer would take is left raw.
      for (std::size_t i = 0; i < line.size(); ++i) {
        const std::uint8_t low = line[i] & 0x7F;
        EXPECT_TRUE(low != 0x10 && low != 0x13) << "raw " << int(line[i]) << " at " << i;
      }
    }
    const TFrames got = Read(line);
    ASSERT_EQ(got.bad, 0) << "round " << round;
    ASSERT_EQ(got.headers.size(), 2u);
    EXPECT_TRUE(Same(got.headers[0], a));
    EXPECT_TRUE(Same(got.headers[1], d));
    ASSERT_EQ(got.data, sent) << "round " << round;
    EXPECT_EQ(got.ends, ends);
  }
}

TEST(ZModemFrameFuzz, RandomBytesAreNeverSound) {
  std::mt19937 rng(TestSeed("ZModemFrameFuzz.RandomBytesAreNeverSound"));
  // Hunting headers: a megabyte of noise.
  {
    TFrameReader reader;
    for (int i = 0; i < 1 << 20; ++i) {
      const TFrameEvent e = reader.Take(static_cast<std::uint8_t>(rng()));
      ASSERT_NE(e, TFrameEvent::kHeader);
      ASSERT_NE(e, TFrameEvent::kSubpacket);
    }
  }
  // Inside subpackets, after a sound header of each form.
  for (const bool crc32 : {false, true}) {
    TFrameReader reader;
    TFrameEncoder enc;
    std::vector<std::uint8_t> head;
    enc.Binary(THeader::At(ZDATA, 0), crc32, head);
    for (const std::uint8_t b : head) reader.Take(b);
    reader.ExpectSubpacket();
    // CRC-16 lets one random end in 65536 through: the noise stays short of that.
    const int count = crc32 ? 1 << 20 : 1 << 14;
    for (int i = 0; i < count; ++i) {
      const TFrameEvent e = reader.Take(static_cast<std::uint8_t>(rng()));
      ASSERT_NE(e, TFrameEvent::kSubpacket) << "byte " << i;
      ASSERT_NE(e, TFrameEvent::kHeader) << "noise read as a header";
      if (e != TFrameEvent::kNone) reader.ExpectSubpacket();
    }
  }
}

TEST(ZModemFrameFuzz, OneBitOfCrc16DataIsSeen) {
  std::mt19937 rng(TestSeed("ZModemFrameFuzz.OneBitOfCrc16DataIsSeen"));
  int damaged = 0;
  for (int round = 0; round < 5000; ++round) {
    TSample s = DataFrame(rng, false, rng() % 2 == 0);
    // A data byte of the subpacket, raw on the line, whose flip stays a raw data byte: the
    // data then differs in one bit, which CRC-16 always sees.
    TFrameEncoder enc;
    std::vector<std::uint8_t> head;
    enc.Binary(s.header, false, head);
    const std::size_t at = head.size() + rng() % (s.line.size() - head.size());
    const std::uint8_t before = s.line[at];
    const std::uint8_t after = static_cast<std::uint8_t>(before ^ (1u << (rng() % 8)));
    auto plain = [](std::uint8_t b) {
      const std::uint8_t low = b & 0x7F;
      return b != kZDle && low != kXon && low != kXoff;
    };
    if (!plain(before) || !plain(after) || (at > 0 && s.line[at - 1] == kZDle)) continue;
    // Only the data: not the CRC bytes after the end.
    const std::size_t tail = s.line.size() - (s.end == kZCrcW ? 1 : 0);
    if (at + 6 >= tail) continue;
    s.line[at] = after;
    const TFrames got = Read(s.line);
    ++damaged;
    EXPECT_TRUE(got.data.empty()) << "round " << round << ": damaged data read as sound";
    EXPECT_TRUE(OnlyWhatWasSent(got, s));
  }
  EXPECT_GT(damaged, 1000);
}

TEST(ZModemFrameFuzz, AnyDamageOfCrc32FramesIsSeen) {
  std::mt19937 rng(TestSeed("ZModemFrameFuzz.AnyDamageOfCrc32FramesIsSeen"));
  int unchanged = 0;
  for (int round = 0; round < 20000; ++round) {
    TSample s = DataFrame(rng, true, rng() % 2 == 0);
    std::vector<std::uint8_t> line = s.line;
    const int damages = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < damages && !line.empty(); ++i) {
      const std::size_t at = rng() % line.size();
      switch (rng() % 4) {
        case 0:
          line[at] = static_cast<std::uint8_t>(line[at] ^ (1u << (rng() % 8)));
          break;
        case 1:
          line.erase(line.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 2:
          line.insert(line.begin() + static_cast<std::ptrdiff_t>(at),
                      static_cast<std::uint8_t>(rng()));
          break;
        default: {
          const std::size_t n = std::min<std::size_t>(1 + rng() % 20, line.size() - at);
          const std::vector<std::uint8_t> copy(line.begin() + static_cast<std::ptrdiff_t>(at),
                                               line.begin() + static_cast<std::ptrdiff_t>(at + n));
          line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), copy.begin(), copy.end());
        }
      }
    }
    const TFrames got = Read(line);
    // Whatever was read as sound is what was sent: damage that left a frame whole (a
    // dropped XON, a repeated pad) reads the frame, any other reads nothing of it.
    ASSERT_TRUE(OnlyWhatWasSent(got, s)) << "round " << round << ": damage read as another frame";
    if (got.data.size() == 1) ++unchanged;
  }
  std::cout << unchanged << " of 20000 damaged lines kept their subpacket whole\n";
}
