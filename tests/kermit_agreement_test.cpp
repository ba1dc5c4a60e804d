// The agreement two Send-Init blocks make, table by table: this side's terms, the block it
// sent (sending) and the peer's block, against what the session then runs on; for the
// receiver also the answer it sends. Rows name what a user gets with those settings.
#include <gtest/gtest.h>

#include <string>

#include "vxcomm/vxkermit/agreement.h"
#include "vxcomm/vxkermit/packet.h"

using vxcomm::TvxKermitCrc;
using vxcomm::TvxKermitOptions;
using namespace vxcomm::vxkermit;

namespace {

// The Send-Init blocks of the standard peers on their own defaults, captured from the real
// programs: each ran on the slave of a pseudo-terminal pair (ckermit as
// `kermit -Y -H -q -C "set modem type none, set carrier-watch off, set line /dev/pts/N,
// set speed 115200, set flow-control none, set parity none, set transfer display none,
// set exit warning off, set exit hangup off, send FILE"` or with "receive"; gkermit as
// `gkermit -q -s FILE` or `gkermit -q -r` with its stdio on the slave), and the first packet
// read off the master is its S, or its Y to the S this side wrote there first. Only the data
// field is kept; the trailing "@" is the field after the system ID, which this side skips.
const std::string kCkermitS = "~/ @-#Y3~^>J)0___F\"U1@";
const std::string kGkermitS = "~' @-#Y3~*!J*0+++J\"U1@";
// Their answers to kOursPlain (this side on its defaults) and kOursAllOn (everything on).
const std::string kCkermitYPlain = "~/ @-#Y1~^>J)0___F\"U1@";
const std::string kGkermitYPlain = "~' @-#Y1~*!J*0+++J\"U1@";
const std::string kCkermitYAllOn = "~/ @-#Y3~^>J)0___B\"U1@";
const std::string kGkermitYAllOn = "~' @-#Y3~*!J*0+++N\"U1@";

// This side's S: on its defaults (a time-out of 5 s), and with everything on (block check
// 3, repeat counts, recovery, long packets of 9024, a window of 31, streaming, the system
// described). SentBlock below makes both from the settings, with the sender's own function.
const std::string kOursPlain = "~% @-#Y1 (";
const std::string kOursAllOn = "~% @-#Y3~>?~~0___N\"U1";

const TvxKermitOptions kOff{};
const TvxKermitOptions kAllOn{.eighth_bit_prefix = 'Y',
                              .long_packets = true,
                              .max_long_packet_length = static_cast<int>(kMaxLongPacketLength),
                              .repeat_counts = true,
                              .streaming = true,
                              .recovery = true,
                              .window_size = 31,
                              .describe_system = true};

TvxKermitOptions With(TvxKermitOptions t, void (*change)(TvxKermitOptions&)) {
  change(t);
  return t;
}

const std::uint8_t* U(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::string Bytes(const TInitBlock& b) {
  return std::string(reinterpret_cast<const char*>(b.data()), b.size);
}

TInitParams Ten(const std::string& block) {
  TInitParams p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(block.at(i));
  return p;
}

// The S a sender with Options sends, with block check index Crc and a time-out of 5 s.
std::string SentBlock(TvxKermitOptions options, int crc) {
  options.crc = static_cast<TvxKermitCrc>(crc);
  return Bytes(OwnSendInit(options, 5000).block);
}

enum Side { Sending, Receiving };

struct Want {
  std::uint8_t qctl;
  int check;  // 0, 1, 2 for block check types 1, 2, 3
  std::uint8_t qbin;
  std::uint8_t rept;
  std::size_t send_maxl, recv_maxl;
  std::size_t send_long, recv_long;
  int window;
  bool stream, recovery, attributes, like, bare;
  std::string answer;  // receiving: the answer block; sending: none
};

struct Row {
  const char* need;  // what a user gets
  Side side;
  TvxKermitOptions own;
  std::string ours;  // sending: the S this side sent; receiving: none, the answer is made
  std::string peer;
  Want want;
};

std::ostream& operator<<(std::ostream& os, const Row& row) {
  return os << row.need;
}

class Agreement : public ::testing::TestWithParam<Row> {};

TEST_P(Agreement, BothBlocksGiveTheSessionInTheRow) {
  const Row& row = GetParam();
  const TAgreement a = row.side == Sending
                           ? AgreeOnAnswer(row.own, Ten(row.ours), U(row.peer), row.peer.size())
                           : AgreeOnSendInit(row.own, U(row.peer), row.peer.size());
  const Want& w = row.want;
  EXPECT_EQ(a.qctl, w.qctl);
  EXPECT_EQ(a.check_index, w.check);
  EXPECT_EQ(a.qbin, w.qbin);
  EXPECT_EQ(a.rept, w.rept);
  EXPECT_EQ(a.send_maxl, w.send_maxl);
  EXPECT_EQ(a.recv_maxl, w.recv_maxl);
  EXPECT_EQ(a.send_long, w.send_long);
  EXPECT_EQ(a.recv_long, w.recv_long);
  EXPECT_EQ(a.window, w.window);
  EXPECT_EQ(a.stream, w.stream);
  EXPECT_EQ(a.recovery, w.recovery);
  EXPECT_EQ(a.attributes, w.attributes);
  EXPECT_EQ(a.peer_like, w.like);
  EXPECT_EQ(a.peer_takes_bare_controls, w.bare);
  EXPECT_EQ(Bytes(a.answer), w.answer);
  // The parameters in force are the peer's answer, or this side's (its ten fields before
  // the long-packet and window bits of the block sent).
  if (row.side == Sending)
    EXPECT_EQ(a.params, ReadInitParams(U(row.peer), row.peer.size()));
  else
    EXPECT_EQ(std::string(a.params.begin(), a.params.begin() + ipCapas),
              w.answer.substr(0, ipCapas));
  EXPECT_EQ(QctlOf(a.params), a.qctl);
}

// The S this side gave the peers is the one its settings make.
TEST(AgreementBlocks, TheCapturedAnswersAnsweredThisSidesOwnBlocks) {
  EXPECT_EQ(SentBlock(kOff, 0), kOursPlain);
  EXPECT_EQ(SentBlock(kAllOn, 2), kOursAllOn);
}

// Two of these engines agree on one session whatever each side's settings: the same check,
// prefixes, window, streaming, recovery and attributes, and neither sends a long packet
// longer than the other takes.
TEST(AgreementBetweenTwoEngines, SenderAndReceiverRunTheSameSession) {
  const TvxKermitOptions base[] = {
      kOff,
      kAllOn,
      With(kAllOn, [](TvxKermitOptions& t) { t.streaming = false; }),
      With(kOff,
           [](TvxKermitOptions& t) { t.long_packets = true, t.max_long_packet_length = 1000; }),
      With(kOff, [](TvxKermitOptions& t) { t.window_size = 4, t.eighth_bit_prefix = '&'; }),
      With(kOff, [](TvxKermitOptions& t) { t.eighth_bit_prefix = 'N', t.repeat_counts = true; }),
      With(kAllOn, [](TvxKermitOptions& t) { t.eighth_bit_prefix = '&', t.recovery = false; })};
  int pairs = 0;
  for (const TvxKermitOptions& s : base)
    for (const TvxKermitOptions& r : base)
      for (int crc = 0; crc <= 3; ++crc) {
        const std::string sent = SentBlock(s, crc);
        const TAgreement rx = AgreeOnSendInit(r, U(sent), sent.size());
        const std::string answer = Bytes(rx.answer);
        const TAgreement tx = AgreeOnAnswer(s, Ten(sent), U(answer), answer.size());
        SCOPED_TRACE("S " + sent + " Y " + answer);
        EXPECT_EQ(tx.check_index, rx.check_index);
        EXPECT_EQ(tx.check_index, crc == 3 ? 2 : crc);
        EXPECT_EQ(tx.qctl, rx.qctl);
        EXPECT_EQ(tx.qbin, rx.qbin);
        EXPECT_EQ(tx.rept, rx.rept);
        EXPECT_EQ(tx.window, rx.window);
        EXPECT_EQ(tx.stream, rx.stream);
        EXPECT_EQ(tx.recovery, rx.recovery);
        EXPECT_EQ(tx.attributes, rx.attributes);
        EXPECT_LE(tx.send_long, rx.recv_long);
        EXPECT_LE(rx.send_long, tx.recv_long);
        EXPECT_EQ(tx.peer_like, r.describe_system);
        EXPECT_EQ(rx.peer_like, s.describe_system);
        ++pairs;
      }
  EXPECT_EQ(pairs, 7 * 7 * 4);
}

constexpr bool F = false, T = true;
// The answer of a receiver with everything on to a sender that offers nothing past the
// ten fields: WHATAMI (no streaming) and the system ID, MAXLX blank.
const char kNoLong[] = "!  0___F\"U1";

INSTANTIATE_TEST_SUITE_P(
    RealPeers, Agreement,
    ::testing::Values(
        Row{"to ckermit receiving, both on defaults: check 1, no eighth-bit or repeat prefix, "
            "94-byte packets, no long packets or window, attributes, a like system",
            Sending,
            kOff,
            kOursPlain,
            kCkermitYPlain,
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, T, T, ""}},
        Row{"to gkermit receiving, both on defaults: as with ckermit",
            Sending,
            kOff,
            kOursPlain,
            kGkermitYPlain,
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, T, T, ""}},
        Row{"to ckermit receiving on defaults, ours all on: check 3, repeats '~', long packets "
            "of 3999 out and 9024 in, a window of 30, recovery, no streaming",
            Sending,
            kAllOn,
            kOursAllOn,
            kCkermitYAllOn,
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, T, T, ""}},
        Row{"to gkermit receiving on defaults, ours all on: check 3, repeats '~', long packets "
            "of 4000 out, streaming and so no window, no recovery",
            Sending,
            kAllOn,
            kOursAllOn,
            kGkermitYAllOn,
            {'#', 2, 0, '~', 94, 94, 4000, 9024, 1, T, F, T, T, T, ""}},
        Row{"from ckermit on defaults, ours on defaults: check 3 (ckermit's), no repeats, no "
            "long packets or window, attributes",
            Receiving,
            kOff,
            "",
            kCkermitS,
            {'#', 2, 0, 0, 94, 94, 0, 0, 1, F, F, T, T, T, "~/ @-#Y3 ("}},
        Row{"from gkermit on defaults, ours on defaults: check 3, otherwise classic",
            Receiving,
            kOff,
            "",
            kGkermitS,
            {'#', 2, 0, 0, 94, 94, 0, 0, 1, F, F, T, T, T, "~' @-#Y3 ("}},
        Row{"from ckermit on defaults, ours all on: check 3, repeats, 3999 out and 9024 in, a "
            "window of 30, recovery",
            Receiving,
            kAllOn,
            "",
            kCkermitS,
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, T, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"from gkermit on defaults, ours all on: check 3, repeats, 4000 out, streaming",
            Receiving,
            kAllOn,
            "",
            kGkermitS,
            {'#', 2, 0, '~', 94, 94, 4000, 9024, 1, T, F, T, T, T, "~' @-#Y3~*!~~0___N\"U1"}}));

INSTANTIATE_TEST_SUITE_P(
    FieldsLeftOut, Agreement,
    ::testing::Values(
        Row{"an empty S: Kermit's defaults, MAXL 80, nothing past the classic protocol",
            Receiving,
            kAllOn,
            "",
            "",
            {'#', 0, 0, 0, 80, 80, 0, 0, 1, F, F, F, F, F, std::string("p% @-#N1  ") + kNoLong}},
        Row{"MAXL only",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 1),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~% @-#N1  ") + kNoLong}},
        Row{"through TIME",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 2),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#N1  ") + kNoLong}},
        Row{"through NPAD",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 3),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#N1  ") + kNoLong}},
        Row{"through PADC",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 4),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#N1  ") + kNoLong}},
        Row{"through EOL",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 5),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#N1  ") + kNoLong}},
        Row{"through QCTL",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 6),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#N1  ") + kNoLong}},
        Row{"through QBIN 'Y': no eighth-bit prefix either side asks for",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 7),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#Y1  ") + kNoLong}},
        Row{"through CHKT: check 3",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 8),
            {'#', 2, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#Y3  ") + kNoLong}},
        Row{"through REPT: repeats '~'",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 9),
            {'#', 2, 0, '~', 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#Y3~ ") + kNoLong}},
        Row{"through CAPAS: long packets of 500 (no MAXLX), recovery, attributes, no window",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 10),
            {'#', 2, 0, '~', 94, 94, 500, 9024, 1, F, T, T, F, F, "~/ @-#Y3~:!~~0___F\"U1"}},
        Row{"through WINDO: a window of 30, long packets still 500",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 11),
            {'#', 2, 0, '~', 94, 94, 500, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"MAXLX1 without MAXLX2: 500",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 12),
            {'#', 2, 0, '~', 94, 94, 500, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"through MAXLX2: 3999",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 13),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"through CHKPNT",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 14),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"part of CHKINT",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 15),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"through CHKINT",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 17),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"through WHATAMI: no system ID, not known as a like system",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 18),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"the system ID's length without the ID",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 19),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"half the system ID",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 20),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, F, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"through the system ID: a like system",
            Receiving,
            kAllOn,
            "",
            kCkermitS.substr(0, 21),
            {'#', 2, 0, '~', 94, 94, 3999, 9024, 30, F, T, T, T, T, "~/ @-#Y3~>>~~0___F\"U1"}},
        Row{"an empty Y: a minimal receiver, MAXL 80, check 1, nothing else",
            Sending,
            kAllOn,
            kOursAllOn,
            "",
            {'#', 0, 0, 0, 80, 94, 0, 0, 1, F, F, F, F, F, ""}},
        Row{"a Y without CAPAS: check 3 and repeats, no attributes",
            Sending,
            kAllOn,
            kOursAllOn,
            kCkermitYAllOn.substr(0, 9),
            {'#', 2, 0, '~', 94, 94, 0, 0, 1, F, F, F, F, F, ""}},
        Row{"a Y through CAPAS: long packets of 500, recovery, attributes",
            Sending,
            kAllOn,
            kOursAllOn,
            kCkermitYAllOn.substr(0, 10),
            {'#', 2, 0, '~', 94, 94, 500, 9024, 1, F, T, T, F, F, ""}}));

const TvxKermitOptions kRepeats = With(kOff, [](TvxKermitOptions& t) { t.repeat_counts = true; });
const TvxKermitOptions kWindow = With(kOff, [](TvxKermitOptions& t) { t.window_size = 31; });
const TvxKermitOptions kLong = With(kOff, [](TvxKermitOptions& t) { t.long_packets = true; });
const TvxKermitOptions kLong1000 =
    With(kLong, [](TvxKermitOptions& t) { t.max_long_packet_length = 1000; });
const TvxKermitOptions kOwnQbin =
    With(kOff, [](TvxKermitOptions& t) { t.eighth_bit_prefix = '&'; });

INSTANTIATE_TEST_SUITE_P(
    HostileValues, Agreement,
    ::testing::Values(
        Row{"MAXL DEL counts as 94",
            Receiving,
            kOff,
            "",
            "\x7f/ @-#Y1 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"MAXL 0 means the default 80",
            Receiving,
            kOff,
            "",
            " / @-#Y1 (",
            {'#', 0, 0, 0, 80, 80, 0, 0, 1, F, F, T, F, F, "p/ @-#Y1 ("}},
        Row{"MAXL a control character: 80",
            Receiving,
            kOff,
            "",
            "\x05/ @-#Y1 (",
            {'#', 0, 0, 0, 80, 80, 0, 0, 1, F, F, T, F, F, "p/ @-#Y1 ("}},
        Row{"MAXL 9 leaves no room for a prefixed byte: 80",
            Receiving,
            kOff,
            "",
            ")/ @-#Y1 (",
            {'#', 0, 0, 0, 80, 80, 0, 0, 1, F, F, T, F, F, "p/ @-#Y1 ("}},
        Row{"MAXL 10 is kept",
            Receiving,
            kOff,
            "",
            "*/ @-#Y1 (",
            {'#', 0, 0, 0, 10, 10, 0, 0, 1, F, F, T, F, F, "*/ @-#Y1 ("}},
        Row{"TIME, NPAD, PADC and EOL of control characters: the answer carries the defaults",
            Receiving,
            kOff,
            "",
            std::string("~\0\x01\x7f\r#Y1 (", 10),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~% @-#Y1 ("}},
        Row{"QCTL 'Y' is no prefix character: '#'",
            Receiving,
            kOff,
            "",
            "~/ @-YY1 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"QCTL DEL: '#'",
            Receiving,
            kOff,
            "",
            "~/ @-\x7fY1 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"QCTL '!' is kept",
            Receiving,
            kOff,
            "",
            "~/ @-!Y1 (",
            {'!', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-!Y1 ("}},
        Row{"QBIN 'A' is illegal: none",
            Receiving,
            kOff,
            "",
            "~/ @-#A1 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#N1 ("}},
        Row{"QBIN 'N': none",
            Receiving,
            kOwnQbin,
            "",
            "~/ @-#N1 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#N1 ("}},
        Row{"QBIN '&' from the sender: '&'",
            Receiving,
            kOff,
            "",
            "~/ @-#&1 (",
            {'#', 0, '&', 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#&1 ("}},
        Row{"QBIN 'Y' and ours '&': '&'",
            Receiving,
            kOwnQbin,
            "",
            "~/ @-#Y1 (",
            {'#', 0, '&', 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#&1 ("}},
        Row{"QBIN equal to QCTL cannot be told apart: none",
            Receiving,
            kOff,
            "",
            "~/ @-&&1 (",
            {'&', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-&N1 ("}},
        Row{"REPT equal to QBIN: no repeats",
            Receiving,
            kRepeats,
            "",
            "~/ @-#&1&(",
            {'#', 0, '&', 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#&1 ("}},
        Row{"REPT equal to QCTL: no repeats",
            Receiving,
            kRepeats,
            "",
            "~/ @-#Y1#(",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"REPT 'A' is illegal: no repeats",
            Receiving,
            kRepeats,
            "",
            "~/ @-#Y1A(",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"REPT '~' with repeats on: '~'",
            Receiving,
            kRepeats,
            "",
            "~/ @-#Y1~(",
            {'#', 0, 0, '~', 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1~("}},
        Row{"REPT '~' with repeats off: none",
            Receiving,
            kOff,
            "",
            "~/ @-#Y1~(",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"the answer takes '~' for both QBIN and REPT: eighth-bit prefix '~', no repeats",
            Sending,
            kAllOn,
            kOursAllOn,
            "~/ @-#~3~(",
            {'#', 2, '~', 0, 94, 94, 0, 0, 1, F, F, T, F, F, ""}},
        Row{"CHKT '0': check 1",
            Receiving,
            kOff,
            "",
            "~/ @-#Y0 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"CHKT '4': check 1",
            Receiving,
            kOff,
            "",
            "~/ @-#Y4 (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"CHKT DEL: check 1",
            Receiving,
            kOff,
            "",
            "~/ @-#Y\x7f (",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"CHKT '2': check 2",
            Receiving,
            kOff,
            "",
            "~/ @-#Y2 (",
            {'#', 1, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y2 ("}},
        Row{"CHKT '5' (force-3): check 3",
            Receiving,
            kOff,
            "",
            "~/ @-#Y5 (",
            {'#', 2, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y5 ("}},
        Row{"WINDO 0: no window",
            Receiving,
            kWindow,
            "",
            "~/ @-#Y1 , ",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"WINDO 32: no window",
            Receiving,
            kWindow,
            "",
            "~/ @-#Y1 ,@",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"WINDO DEL: no window",
            Receiving,
            kWindow,
            "",
            "~/ @-#Y1 ,\x7f",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"WINDO 31: a window of 31",
            Receiving,
            kWindow,
            "",
            "~/ @-#Y1 ,?",
            {'#', 0, 0, 0, 94, 94, 0, 0, 31, F, F, T, F, T, "~/ @-#Y1 ,?"}},
        Row{"WINDO without the window capability: no window",
            Receiving,
            kWindow,
            "",
            "~/ @-#Y1 (>",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"long packets of 0: the default 500",
            Receiving,
            kLong,
            "",
            "~/ @-#Y1 *!  ",
            {'#', 0, 0, 0, 94, 94, 500, 9024, 1, F, F, T, F, F, "~/ @-#Y1 *!~~"}},
        Row{"long packets of 9024",
            Receiving,
            kLong,
            "",
            "~/ @-#Y1 *!~~",
            {'#', 0, 0, 0, 94, 94, 9024, 9024, 1, F, F, T, F, F, "~/ @-#Y1 *!~~"}},
        Row{"MAXLX outside tochar(0..94): the default 500",
            Receiving,
            kLong,
            "",
            "~/ @-#Y1 *!\x7f\x7f",
            {'#', 0, 0, 0, 94, 94, 500, 9024, 1, F, F, T, F, F, "~/ @-#Y1 *!~~"}},
        Row{"9024 offered, ours 1000: 1000 each way",
            Receiving,
            kLong1000,
            "",
            "~/ @-#Y1 *!~~",
            {'#', 0, 0, 0, 94, 94, 1000, 1000, 1, F, F, T, F, F, "~/ @-#Y1 *!*R"}},
        Row{"a second CAPAS byte: MAXLX after it, 3999",
            Receiving,
            kLong,
            "",
            "~/ @-#Y1 + !J)",
            {'#', 0, 0, 0, 94, 94, 3999, 9024, 1, F, F, T, F, F, "~/ @-#Y1 *!~~"}},
        Row{"long packets offered, ours off: classic",
            Receiving,
            kOff,
            "",
            "~/ @-#Y1 *!~~",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 ("}},
        Row{"CAPAS DEL offers nothing: no attributes, long packets, window or recovery",
            Receiving,
            kAllOn,
            "",
            "~/ @-#Y1 \x7f>J)",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, std::string("~/ @-#Y1  ") + kNoLong}},
        Row{"WHATAMI without its valid bit: no streaming",
            Receiving,
            kAllOn,
            "",
            "~/ @-#Y1 (!  0___(",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, F, "~/ @-#Y1 (!  0___F\"U1"}},
        Row{"WHATAMI valid with streaming: streaming",
            Receiving,
            kAllOn,
            "",
            "~/ @-#Y1 (!  0___H",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, T, F, T, F, T, "~/ @-#Y1 (!  0___N\"U1"}},
        Row{"another system's ID: not a like system",
            Receiving,
            kOff,
            "",
            "~/ @-#Y1 (!  0___F\"U2",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, T, "~/ @-#Y1 ("}},
        Row{"a system ID longer than the block: not a like system",
            Receiving,
            kOff,
            "",
            "~/ @-#Y1 (!  0___F/U1",
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, T, F, T, "~/ @-#Y1 ("}},
        Row{"an answer of ten NULs: the defaults, nothing offered",
            Sending,
            kOff,
            kOursPlain,
            std::string(10, '\0'),
            {'#', 0, 0, 0, 80, 94, 0, 0, 1, F, F, F, F, F, ""}},
        Row{"an answer of ten DELs: MAXL 94, nothing offered (no A packets)",
            Sending,
            kAllOn,
            kOursAllOn,
            std::string(10, '\x7f'),
            {'#', 0, 0, 0, 94, 94, 0, 0, 1, F, F, F, F, F, ""}}));

}  // namespace
