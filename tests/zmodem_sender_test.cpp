// The ZMODEM sender driven by a receiver's frames fed to it directly, its output read back
// as frames: ZRQINIT first; the ZFILE names the file with its length and date; the data
// from the position a ZRPOS asks for is the file's from there, to ZEOF at its length; a
// receiver that gives a buffer size gets segments of that size ended by ZCRCW, each waiting
// for its ZACK; ZSKIP passes on to the next file; a ZRPOS past the end is refused; the
// receiver's five ZDLE end the session as aborted with no answer; ZFIN is
// answered with "OO" and the session reports every file sent.
#include <gtest/gtest.h>

#include <utime.h>

#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxzmodem.h"

using namespace kermitfiles;
using namespace vxcomm::vxzmodem;

namespace {

// One frame the sender wrote: a header, or a subpacket with its data and end.
struct TSent {
  bool header = false;
  THeader h;
  std::string data;
  std::uint8_t end = 0;
};

// A sender with no line: the test feeds it the receiver's frames and reads its own.
struct ZModemSenderFeed {
  ZModemSenderFeed() {
    zmodem.SetActive(true);
    zmodem.SetTimeout(600000);
    zmodem.OnDataSend = [this](TObject*, const void* data, Cardinal len, bool, bool& handled) {
      const auto* p = static_cast<const std::uint8_t*>(data);
      raw.append(reinterpret_cast<const char*>(p), len);
      for (Cardinal i = 0; i < len; ++i) {
        const TFrameEvent e = reader.Take(p[i]);
        if (e == TFrameEvent::kHeader) {
          frames.push_back({true, reader.Header(), {}, 0});
          if (reader.Header().type == ZDATA || reader.Header().type == ZFILE)
            reader.ExpectSubpacket();
        } else if (e == TFrameEvent::kSubpacket) {
          frames.push_back(
              {false, {}, std::string(reader.Data().begin(), reader.Data().end()), reader.End()});
        } else if (e != TFrameEvent::kNone) {
          ++bad;
        }
      }
      handled = true;
    };
    zmodem.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                 bool& raise) {
      raise = false;
      fatal.push_back(msg);
    };
    zmodem.OnFileResult = [this](TObject*, const TvxFileResult& r) { files.push_back(r); };
  }
  // The component outlives the members its handlers fill: they go first.
  ~ZModemSenderFeed() {
    zmodem.OnDataSend = nullptr;
    zmodem.OnFatalError = nullptr;
    zmodem.OnFileResult = nullptr;
  }
  ZModemSenderFeed(const ZModemSenderFeed&) = delete;
  ZModemSenderFeed& operator=(const ZModemSenderFeed&) = delete;
  // Feeds Header as the receiver writes it, and returns what the sender wrote to it.
  std::vector<TSent> Answer(const THeader& header) {
    frames.clear();
    TFrameEncoder enc;
    std::vector<std::uint8_t> out;
    enc.Hex(header, out);
    zmodem.DataReceived(out.data(), static_cast<Cardinal>(out.size()));
    return frames;
  }

  TvxZModem zmodem;
  TFrameReader reader;
  std::vector<TSent> frames;
  std::string raw;
  int bad = 0;
  std::vector<TvxFileResult> files;
  std::vector<std::string> fatal;
};

// The data of Frames from a ZDATA at From: its subpackets joined; Ends gets their ends.
std::string DataOf(const std::vector<TSent>& frames, std::uint32_t from,
                   std::string* ends = nullptr) {
  std::string data;
  bool in = false;
  for (const TSent& f : frames) {
    if (f.header) {
      in = f.h.type == ZDATA && f.h.Position() == from;
      continue;
    }
    if (!in) continue;
    data += f.data;
    if (ends) ends->push_back(static_cast<char>(f.end));
  }
  return data;
}

THeader Init(std::uint16_t buffer = 0) {
  THeader h = THeader::Flags(ZRINIT, kCanFdx | kCanOvio | kCanFc32);
  h.data[0] = static_cast<std::uint8_t>(buffer & 0xFF);
  h.data[1] = static_cast<std::uint8_t>(buffer >> 8);
  return h;
}

}  // namespace

TEST(ZModemSender, AFileFromZrqinitToOO) {
  const std::string src = MakeTempDir("zm-send");
  const std::string data = RandomBytes(5000, 21);
  WriteAll(src + "/one.bin", data);
  const utimbuf times{1600000000, 1600000000};
  ASSERT_EQ(::utime((src + "/one.bin").c_str(), &times), 0);
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/one.bin");
  ASSERT_EQ(feed.frames.size(), 1u);
  EXPECT_EQ(feed.frames[0].h.type, ZRQINIT);
  std::vector<TSent> got = feed.Answer(Init());
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].h.type, ZFILE);
  EXPECT_EQ(got[1].data, std::string("one.bin") + '\0' + "5000 13727410000");
  EXPECT_EQ(got[1].end, kZCrcW);
  got = feed.Answer(THeader::At(ZRPOS, 0));
  std::string ends;
  EXPECT_TRUE(DataOf(got, 0, &ends) == data);
  // Streamed: every subpacket but the last ends in ZCRCG, the last in ZCRCE, then ZEOF.
  EXPECT_EQ(ends,
            std::string(ends.size() - 1, static_cast<char>(kZCrcG)) + static_cast<char>(kZCrcE));
  ASSERT_TRUE(got.back().header);
  EXPECT_EQ(got.back().h.type, ZEOF);
  EXPECT_EQ(got.back().h.Position(), 5000u);
  // The receiver asks again from 1000: the data from there.
  got = feed.Answer(THeader::At(ZRPOS, 1000));
  EXPECT_TRUE(DataOf(got, 1000) == data.substr(1000));
  EXPECT_EQ(feed.zmodem.Repeats(), 1);
  got = feed.Answer(Init());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].h.type, ZFIN);
  feed.raw.clear();
  feed.Answer(THeader::At(ZFIN, 0));
  EXPECT_EQ(feed.raw, "OO");
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok());
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foComplete);
  EXPECT_TRUE(feed.zmodem.Crc32InUse());
  EXPECT_EQ(feed.bad, 0);
}

TEST(ZModemSender, SegmentsOfTheReceiversBufferWaitForTheirZack) {
  const std::string src = MakeTempDir("zm-send");
  const std::string data = RandomBytes(5000, 22);
  WriteAll(src + "/seg.bin", data);
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/seg.bin");
  feed.Answer(Init(2048));
  EXPECT_EQ(feed.zmodem.ReceiverBuffer(), 2048);
  std::string ends;
  std::vector<TSent> got = feed.Answer(THeader::At(ZRPOS, 0));
  EXPECT_TRUE(DataOf(got, 0, &ends) == data.substr(0, 2048));
  EXPECT_EQ(ends.back(), static_cast<char>(kZCrcW));
  EXPECT_FALSE(got.back().header);
  // A ZACK for somewhere else is not the one awaited.
  EXPECT_TRUE(feed.Answer(THeader::At(ZACK, 1024)).empty());
  got = feed.Answer(THeader::At(ZACK, 2048));
  EXPECT_TRUE(DataOf(got, 2048) == data.substr(2048, 2048));
  got = feed.Answer(THeader::At(ZACK, 4096));
  ends.clear();
  EXPECT_TRUE(DataOf(got, 4096, &ends) == data.substr(4096));
  EXPECT_EQ(ends.back(), static_cast<char>(kZCrcE));
  EXPECT_EQ(got.back().h.type, ZEOF);
  feed.Answer(Init());
  feed.Answer(THeader::At(ZFIN, 0));
  EXPECT_TRUE(feed.zmodem.SessionResult().Ok());
}

TEST(ZModemSender, ZskipPassesToTheNextFileAndAnEmptyFileIsItsEof) {
  const std::string src = MakeTempDir("zm-send");
  WriteAll(src + "/a.bin", RandomBytes(3000, 23));
  WriteAll(src + "/b.bin", "");
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/*.bin");
  feed.Answer(Init());
  std::vector<TSent> got = feed.Answer(THeader::At(ZSKIP, 0));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].data.substr(0, 6), std::string("b.bin") + '\0');
  got = feed.Answer(THeader::At(ZRPOS, 0));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].h.type, ZEOF);
  EXPECT_EQ(got[0].h.Position(), 0u);
  feed.Answer(Init());
  feed.Answer(THeader::At(ZFIN, 0));
  ASSERT_EQ(feed.files.size(), 2u);
  EXPECT_EQ(feed.files[0].outcome, foSkippedByPeer);
  EXPECT_EQ(feed.files[1].outcome, foComplete);
  // A file the receiver skipped is not a session that sent everything.
  EXPECT_FALSE(feed.zmodem.SessionResult().Ok());
  EXPECT_TRUE(feed.zmodem.SessionResult().ended);
}

TEST(ZModemSender, AZrposPastTheEndIsRefused) {
  const std::string src = MakeTempDir("zm-send");
  WriteAll(src + "/c.bin", "12345");
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/c.bin");
  feed.Answer(Init());
  feed.Answer(THeader::At(ZRPOS, 6));
  ASSERT_EQ(feed.fatal.size(), 1u);
  EXPECT_FALSE(feed.zmodem.SessionResult().Ok());
  EXPECT_EQ(feed.zmodem.State(), fsListen);
  // The receiver is told with the cancel sequence.
  EXPECT_NE(feed.raw.find(std::string(8, '\x18')), std::string::npos);
}

TEST(ZModemSender, AReceiverWithoutCrc32GetsCrc16AndEscapesWhenItAsks) {
  const std::string src = MakeTempDir("zm-send");
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>(i % 32);
  WriteAll(src + "/ctl.bin", data);
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/ctl.bin");
  feed.Answer(THeader::Flags(ZRINIT, kCanFdx | kCanOvio | kEscCtl));
  feed.raw.clear();
  const std::vector<TSent> got = feed.Answer(THeader::At(ZRPOS, 0));
  EXPECT_TRUE(DataOf(got, 0) == data);
  EXPECT_FALSE(feed.zmodem.Crc32InUse());
  // Not one control character raw in the data (the headers' ZDLE aside).
  for (const char c : feed.raw)
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\x18') << int(c);
}

TEST(ZModemSender, TheReceiversCancelAbortsWithoutAnAnswer) {
  const std::string src = MakeTempDir("zm-send");
  WriteAll(src + "/d.bin", RandomBytes(100000, 24));
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/d.bin");
  feed.Answer(Init());
  feed.Answer(THeader::At(ZRPOS, 0));
  feed.raw.clear();
  const std::string cancel(5, '\x18');
  feed.zmodem.DataReceived(cancel.data(), static_cast<Cardinal>(cancel.size()));
  EXPECT_EQ(feed.zmodem.State(), fsListen);
  EXPECT_TRUE(feed.fatal.empty());
  EXPECT_EQ(feed.zmodem.SessionResult().failure, "The peer cancelled the transfer.");
  ASSERT_EQ(feed.files.size(), 1u);
  EXPECT_EQ(feed.files[0].outcome, foAborted);
  EXPECT_EQ(feed.raw, "");
}

// A receiver's ZCRC after ZFILE is answered with the CRC-32 of the bytes it names (all of
// them for 0 or more than the file has); the data then goes whole from where it asks.
TEST(ZModemSender, AZcrcIsAnsweredWithTheFilesCrc) {
  const std::string src = MakeTempDir("zm-send");
  const std::string data = RandomBytes(5000, 17);
  WriteAll(src + "/crc.bin", data);
  ZModemSenderFeed feed;
  feed.zmodem.SendFiles(src + "/crc.bin");
  feed.Answer(Init());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  const std::pair<std::uint32_t, std::uint32_t> asks[] = {{0, Crc32(bytes, data.size())},
                                                          {1000, Crc32(bytes, 1000)},
                                                          {1u << 30, Crc32(bytes, data.size())}};
  for (const auto& [count, crc] : asks) {
    SCOPED_TRACE(count);
    const std::vector<TSent> sent = feed.Answer(THeader::At(ZCRC, count));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].h.type, ZCRC);
    EXPECT_EQ(sent[0].h.Position(), crc);
  }
  const std::vector<TSent> sent = feed.Answer(THeader::At(ZRPOS, 0));
  EXPECT_TRUE(DataOf(sent, 0) == data);
  EXPECT_TRUE(feed.fatal.empty());
}
