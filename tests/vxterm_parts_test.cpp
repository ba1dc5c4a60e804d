// The parts of vxterm that need no terminal: the prompt's commands, the command key and
// the editing of the prompt line, the hex, time-stamp and log forms of received bytes, the
// line-end mappings, the pacing of pasted bytes and the finding of a ZMODEM peer's start
// among received bytes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

#include "commands.h"
#include "display.h"
#include "keys.h"
#include "linemap.h"
#include "pacing.h"
#include "support/testseed.h"
#include "vxcomm/vxzmodem/frame.h"
#include "zheaderdetector.h"

TEST(VxTermCommands, ParsesEachCommand) {
  struct Case {
    const char* line;
    TCommandKind kind;
    std::vector<std::string> args;
    bool on;
  };
  const Case cases[] = {
      {"", TCommandKind::Empty, {}, false},
      {"   ", TCommandKind::Empty, {}, false},
      {"send a.bin", TCommandKind::Send, {"a.bin"}, false},
      {"send  a.bin   '/tmp/my file' b\\ c",
       TCommandKind::Send,
       {"a.bin", "/tmp/my file", "b c"},
       false},
      {"send \"x\\\"y\"", TCommandKind::Send, {"x\"y"}, false},
      {"receive", TCommandKind::Receive, {}, false},
      {"receive /tmp/in", TCommandKind::Receive, {"/tmp/in"}, false},
      {"break", TCommandKind::Break, {}, false},
      {"dtr on", TCommandKind::Dtr, {}, true},
      {"dtr off", TCommandKind::Dtr, {}, false},
      {"echo on", TCommandKind::Echo, {}, true},
      {"echo off", TCommandKind::Echo, {}, false},
      {"stats", TCommandKind::Stats, {}, false},
      {"parity even", TCommandKind::Parity, {"even"}, false},
      {"stop-bits 2", TCommandKind::StopBits, {"2"}, false},
      {"flow hardware", TCommandKind::Flow, {"hardware"}, false},
      {"rts on", TCommandKind::Rts, {}, true},
      {"rts off", TCommandKind::Rts, {}, false},
      {"lines", TCommandKind::Lines, {}, false},
      {"log /tmp/s.log", TCommandKind::Log, {"/tmp/s.log"}, false},
      {"log off", TCommandKind::LogOff, {}, false},
      {"hex on", TCommandKind::Hex, {}, true},
      {"hex off", TCommandKind::Hex, {}, false},
      {"timestamps on", TCommandKind::Timestamps, {}, true},
      {"timestamps off", TCommandKind::Timestamps, {}, false},
      {"help", TCommandKind::Help, {}, false},
      {"?", TCommandKind::Help, {}, false},
      {"quit", TCommandKind::Quit, {}, false},
      {"exit", TCommandKind::Quit, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const TCommand got = ParseCommand(c.line);
    EXPECT_EQ(got.kind, c.kind) << got.error;
    EXPECT_EQ(got.args, c.args);
    EXPECT_EQ(got.on, c.on);
  }
}

TEST(VxTermCommands, RefusesWhatIsNotACommandWithAReason) {
  struct Case {
    const char* line;
    const char* error;
  };
  const Case cases[] = {
      {"fly", "unknown command fly"},
      {"send", "send needs at least one path"},
      {"receive a b", "receive takes one directory"},
      {"dtr", "dtr takes on, off or pulse [MS]"},
      {"rts maybe", "rts takes on, off or pulse [MS]"},
      {"dtr pulse 0", "dtr pulse takes a length in ms, 1 to 10000"},
      {"rts pulse 10001", "rts pulse takes a length in ms, 1 to 10000"},
      {"dtr pulse 5 6", "dtr pulse takes a length in ms, 1 to 10000"},
      {"speed", "speed takes a number from 50 to 4000000"},
      {"speed 9600x", "speed takes a number from 50 to 4000000"},
      {"speed 49", "speed takes a number from 50 to 4000000"},
      {"data-bits 9", "data-bits takes a number from 5 to 8"},
      {"parity", "parity takes one value"},
      {"echo", "echo takes on or off"},
      {"stats now", "stats takes no argument"},
      {"send-hex", "send-hex needs at least one byte"},
      {"send-hex 1", "not hex bytes: 1"},
      {"send-hex 0x", "not hex bytes: 0x"},
      {"send-hex 0g", "not hex bytes: 0g"},
      {"hex on off", "hex takes on or off"},
      {"lines now", "lines takes no argument"},
      {"quit now", "quit takes no argument"},
      {"log", "log takes a file name or off"},
      {"send 'open", "unclosed quote"},
      {"send -p", "-p needs a protocol: kermit, xmodem, xmodem-1k, ymodem or zmodem"},
      {"receive -p", "-p needs a protocol: kermit, xmodem, xmodem-1k, ymodem or zmodem"},
      {"send -p zmodem2 a",
       "unknown protocol zmodem2: kermit, xmodem, xmodem-1k, ymodem or zmodem"},
      {"send -p ZMODEM a", "unknown protocol ZMODEM: kermit, xmodem, xmodem-1k, ymodem or zmodem"},
      {"send -p zmodem", "send needs at least one path"},
      {"receive -p zmodem a b", "receive takes one directory"},
      {"send -p ymodem", "send needs at least one path"},
      {"send -p xmodem a b", "XMODEM sends one file"},
      {"receive -p xmodem", "receive -p xmodem takes the file to store: XMODEM carries no name"},
      {"receive -p xmodem-1k f", "receive takes xmodem: the sender picks the block size"},
      {"receive -p ymodem a b", "receive takes one directory"},
  };
  for (const Case& c : cases) {
    const TCommand got = ParseCommand(c.line);
    EXPECT_EQ(got.kind, TCommandKind::Invalid) << c.line;
    EXPECT_EQ(got.error, c.error) << c.line;
  }
  EXPECT_NE(std::string(kCommandHelp).find("send [-p PROTO] PATH..."), std::string::npos);
}

TEST(VxTermCommands, TakesTheProtocolOfASendOrReceive) {
  const struct {
    const char* line;
    TCommandKind kind;
    TProtocol protocol;
    std::vector<std::string> args;
  } cases[] = {
      {"send a", TCommandKind::Send, TProtocol::Kermit, {"a"}},
      {"send -p kermit a b", TCommandKind::Send, TProtocol::Kermit, {"a", "b"}},
      {"send -p xmodem a", TCommandKind::Send, TProtocol::XModem, {"a"}},
      {"send -p xmodem-1k a", TCommandKind::Send, TProtocol::XModem1K, {"a"}},
      {"send -p ymodem a b", TCommandKind::Send, TProtocol::YModem, {"a", "b"}},
      {"receive -p ymodem", TCommandKind::Receive, TProtocol::YModem, {}},
      {"receive -p ymodem /tmp/in", TCommandKind::Receive, TProtocol::YModem, {"/tmp/in"}},
      {"receive -p xmodem /tmp/f.bin", TCommandKind::Receive, TProtocol::XModem, {"/tmp/f.bin"}},
      {"send -p zmodem a", TCommandKind::Send, TProtocol::ZModem, {"a"}},
      {"send -p zmodem a 'b c' d", TCommandKind::Send, TProtocol::ZModem, {"a", "b c", "d"}},
      {"receive -p zmodem", TCommandKind::Receive, TProtocol::ZModem, {}},
      {"receive -p zmodem /tmp/in", TCommandKind::Receive, TProtocol::ZModem, {"/tmp/in"}},
      // Only a first -p is an option: a file may be called -p after it.
      {"send -p ymodem -p", TCommandKind::Send, TProtocol::YModem, {"-p"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const TCommand got = ParseCommand(c.line);
    EXPECT_EQ(got.kind, c.kind) << got.error;
    EXPECT_EQ(got.protocol, c.protocol);
    EXPECT_EQ(got.args, c.args);
  }
}

TEST(VxTermCommands, TakesNumbersPulsesAndHexBytes) {
  TCommand c = ParseCommand("speed 9600");
  EXPECT_EQ(c.kind, TCommandKind::Speed);
  EXPECT_EQ(c.number, 9600);
  c = ParseCommand("data-bits 7");
  EXPECT_EQ(c.kind, TCommandKind::DataBits);
  EXPECT_EQ(c.number, 7);
  c = ParseCommand("dtr pulse");
  EXPECT_EQ(c.kind, TCommandKind::Dtr);
  EXPECT_TRUE(c.pulse);
  EXPECT_EQ(c.number, kDefaultPulseMs);
  c = ParseCommand("rts pulse 250");
  EXPECT_EQ(c.kind, TCommandKind::Rts);
  EXPECT_TRUE(c.pulse);
  EXPECT_EQ(c.number, 250);
  EXPECT_FALSE(ParseCommand("dtr on").pulse);
  c = ParseCommand("send-hex 01 02 ff 0d0A 0x7F");
  EXPECT_EQ(c.kind, TCommandKind::SendHex) << c.error;
  EXPECT_EQ(c.bytes, std::string("\x01\x02\xff\r\n\x7f", 6));
  c = ParseCommand("send-hex 00");
  EXPECT_EQ(c.bytes, std::string(1, '\0'));
}

TEST(VxTermKeys, ParsesTheCommandKey) {
  struct Case {
    const char* text;
    bool ok;
    unsigned char key;
  };
  const Case cases[] = {
      {"^]", true, 0x1d},     {"^a", true, 0x01},    {"^A", true, 0x01}, {"ctrl-]", true, 0x1d},
      {"Ctrl-x", true, 0x18}, {"^@", true, 0x00},    {"^?", true, 0x7f}, {"^_", true, 0x1f},
      {"0x1d", true, 0x1d},   {"0xff", true, 0xff},  {"0x41", false, 0}, {"a", false, 0},
      {"^", false, 0},        {"^1", false, 0},      {"", false, 0},     {"0x", false, 0},
      {"0xzz", false, 0},     {"ctrl-]]", false, 0},
  };
  for (const Case& c : cases) {
    unsigned char key = 0xAA;
    EXPECT_EQ(ParseEscapeKey(c.text, key), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(key, c.key) << c.text;
    }
  }
  EXPECT_EQ(EscapeKeyName(0x1d), "Ctrl-]");
  EXPECT_EQ(EscapeKeyName(0x01), "Ctrl-A");
  EXPECT_EQ(EscapeKeyName(0xff), "0xff");
}

TEST(VxTermKeys, EditsThePromptLine) {
  TPromptLine line(0x1d);
  EXPECT_EQ(line.Feed(0x1d), TPromptLine::SendKey) << "the key again on an empty line";
  for (const char c : std::string("sendx")) EXPECT_EQ(line.Feed(c), TPromptLine::Editing);
  EXPECT_EQ(line.Feed(0x7f), TPromptLine::Editing);
  EXPECT_EQ(line.Text(), "send");
  line.Feed(0x01);  // other control keys are ignored
  line.Feed(' ');
  line.Feed(0xC3);
  line.Feed(0xA9);  // é in UTF-8
  EXPECT_EQ(line.Text(), "send \xC3\xA9");
  line.Feed(0x08);
  EXPECT_EQ(line.Text(), "send ") << "a character of two bytes goes back whole";
  EXPECT_EQ(line.Feed(0x1d), TPromptLine::Editing) << "not on a line begun";
  EXPECT_EQ(line.Feed('\r'), TPromptLine::Execute);
  line.Feed(0x15);
  EXPECT_EQ(line.Text(), "");
  for (int i = 0; i < 10000; ++i) line.Feed('x');
  EXPECT_EQ(line.Text().size(), TPromptLine::kMaxLength) << "a line has a bound";
  line.Feed(0x15);
  EXPECT_EQ(line.Feed(0x03), TPromptLine::Cancel);
}

TEST(VxTermKeys, TheEscapeKeyAloneLeavesThePrompt) {
  TPromptLine line(0x1d);
  EXPECT_EQ(line.Feed(0x1b), TPromptLine::Editing) << "a sequence may follow";
  EXPECT_TRUE(line.EscapePending());
  EXPECT_EQ(line.EndOfKeys(), TPromptLine::Cancel) << "nothing followed";
  EXPECT_FALSE(line.EscapePending());
  EXPECT_EQ(line.EndOfKeys(), TPromptLine::Editing);
  line.Feed(0x1b);
  EXPECT_EQ(line.Feed('\r'), TPromptLine::CancelThenKey) << "Escape, then Enter for the terminal";
}

TEST(VxTermKeys, KeySequencesAreTakenWholeAtThePrompt) {
  // Arrows and Home/End (CSI and SS3 forms), function keys, Delete and PageUp with
  // parameters, a modified arrow, Alt with a letter.
  for (const std::string key : {"\x1b[D", "\x1b[A", "\x1bOD", "\x1bOP", "\x1b[15~", "\x1b[3~",
                                "\x1b[1;5C", "\x1bx", "\x1b[H", "\x1bOF"}) {
    TPromptLine line(0x1d);
    for (const char c : std::string("sen")) line.Feed(c);
    for (const char c : key)
      EXPECT_EQ(line.Feed(static_cast<unsigned char>(c)), TPromptLine::Editing) << key.substr(1);
    EXPECT_FALSE(line.EscapePending()) << key.substr(1);
    EXPECT_EQ(line.EndOfKeys(), TPromptLine::Editing) << key.substr(1);
    line.Feed('d');
    EXPECT_EQ(line.Text(), "send") << key.substr(1);
  }
}

TEST(VxTermDisplay, ShowsHexAndTimeStamps) {
  EXPECT_EQ(FormatStamp(0), "00:00:00.000");
  EXPECT_EQ(FormatStamp(((13 * 60 + 5) * 60 + 9) * 1000LL + 42), "13:05:09.042");

  TDisplay plain;
  EXPECT_EQ(plain.Render("a\r\nb", 4, "T"), "a\r\nb");

  TDisplay hex;
  EXPECT_EQ(hex.SetHex(true), "");
  EXPECT_EQ(hex.Render("AB\x01\xff", 4, "T"), "41 42 01 FF ");
  std::string sixteen(14, 'z');
  EXPECT_EQ(hex.Render(sixteen.data(), sixteen.size(), "T"),
            "7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A\r\n7A 7A ");
  EXPECT_EQ(hex.SetHex(false), "\r\n") << "a row begun is ended";

  TDisplay stamps;
  stamps.SetTimestamps(true);
  EXPECT_EQ(stamps.Render("one\r\ntw", 7, "12:00:00.000"),
            "[12:00:00.000] one\r\n[12:00:00.000] tw");
  EXPECT_EQ(stamps.Render("o\n", 2, "12:00:01.000"), "o\n");
  EXPECT_EQ(stamps.Render("x", 1, "12:00:02.000"), "[12:00:02.000] x");
  EXPECT_EQ(stamps.Render("\n\r\n\ry", 5, "S"), "\n\r\n\r[S] y")
      << "a stamp is not rubbed out by a CR at the start of a line";
  EXPECT_EQ(stamps.Render("\n\033[?2004l\rhi\n\033[1mb", 18, "S"),
            "\n\033[?2004l\r[S] hi\n\033[1m[S] b")
      << "nor by a control sequence";

  TDisplay both;
  both.SetHex(true);
  both.SetTimestamps(true);
  EXPECT_EQ(both.Render("A", 1, "S"), "[S] 41 ");
}

TEST(VxTermDisplay, SplitsLinesForTheLog) {
  TLineSplitter split;
  std::vector<std::string> lines;
  const std::string in = "first\r\nsec\tond\x07\xff\nthi";
  split.Feed(in.data(), in.size(), [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "sec\tond\x07\xff"}))
      << "the bytes as they came: the log escapes them";
  EXPECT_EQ(split.Rest(), "thi");
  EXPECT_EQ(split.Rest(), "");
  const std::string longLine(5000, 'x');
  lines.clear();
  split.Feed(longLine.data(), longLine.size(), [&](const std::string& l) { lines.push_back(l); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 4096u);
}

TEST(VxTermDisplay, LogEntriesUseOneEscapeForm) {
  EXPECT_EQ(LogText("plain text"), "plain text");
  EXPECT_EQ(LogText(std::string("a\tb\x01"
                                "c\x7f\xff\0",
                                8)),
            "a\\x09b\\x01c\\x7F\\xFF\\x00");
  EXPECT_EQ(LogText("back\\slash"), "back\\\\slash") << "a backslash cannot pose as an escape";
}

TEST(VxTermLineMap, MapsEachNameAsDocumented) {
  struct Case {
    const char* names;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"crlf", "a\rb\nc", "a\nb\nc"},
      {"crcrlf", "a\rb", "a\r\nb"},
      {"igncr", "a\r\nb\r", "a\nb"},
      {"lfcr", "a\nb\r", "a\rb\r"},
      {"lfcrlf", "one\ntwo\n", "one\r\ntwo\r\n"},
      {"ignlf", "a\r\nb", "a\rb"},
      {"bsdel", "a\bb\x7f",
       "a\x7f"
       "b\x7f"},
      {"delbs",
       "a\x7f"
       "b\b",
       "a\bb\b"},
      {"lfcrlf,delbs", "x\x7f\n", "x\b\r\n"},
      {"igncr,crlf", "a\rb", "ab"},
      {"crlf,crcrlf", "a\rb", "a\nb"},
  };
  for (const Case& c : cases) {
    TLineMap map;
    std::string bad;
    ASSERT_TRUE(map.Add(c.names, bad)) << c.names << ": " << bad;
    EXPECT_EQ(map.Apply(c.in), c.out) << c.names;
  }
  TLineMap none;
  std::string every;
  for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
  EXPECT_EQ(none.Apply(every), every) << "no mapping changes nothing";
  EXPECT_EQ(none.Names(), "none");
}

TEST(VxTermLineMap, RefusesUnknownNamesAndKeepsWhatItHad) {
  TLineMap map;
  std::string bad;
  ASSERT_TRUE(map.Add("crlf", bad));
  EXPECT_FALSE(map.Add("delbs,sideways", bad));
  EXPECT_EQ(bad, "sideways");
  EXPECT_FALSE(map.Add("delbs,", bad));
  EXPECT_EQ(bad, "an empty name");
  EXPECT_EQ(map.Names(), "crlf") << "a refused list adds nothing";
  ASSERT_TRUE(map.Add("ignlf,bsdel", bad));
  EXPECT_EQ(map.Names(), "crlf,ignlf,bsdel");
}

TEST(VxTermPacing, SendsByteByByteOrLineByLine) {
  const std::string text = "ab\rcd\nef";
  auto chunks = [&](const TPacing& pacing) {
    std::vector<std::pair<std::string, int>> out;
    std::string queued = text;
    while (!queued.empty()) {
      const TPacedChunk c = NextPacedChunk(queued, pacing);
      out.emplace_back(queued.substr(0, c.length), c.pauseMs);
      queued.erase(0, c.length);
    }
    return out;
  };
  using Chunks = std::vector<std::pair<std::string, int>>;
  EXPECT_EQ(chunks({0, 50}), (Chunks{{"ab\r", 50}, {"cd\n", 50}, {"ef", 0}}));
  EXPECT_EQ(
      chunks({5, 0}),
      (Chunks{{"a", 5}, {"b", 5}, {"\r", 5}, {"c", 5}, {"d", 5}, {"\n", 5}, {"e", 5}, {"f", 5}}));
  EXPECT_EQ(chunks({5, 40})[2], (std::pair<std::string, int>{"\r", 40}));
  EXPECT_EQ(NextPacedChunk("", {5, 5}).length, 0u);
}

namespace {

namespace z = vxcomm::vxzmodem;

// A hex header as the frame layer writes it, without the line end and XON that follow it.
std::string HexHeader(const z::THeader& header) {
  z::TFrameEncoder encoder;
  std::vector<std::uint8_t> out;
  encoder.Hex(header, out);
  std::string text(out.begin(), out.end());
  return text.substr(0, text.find('\r'));
}

// What a detector made of the chunks it was fed: the bytes shown (those released at the end
// included, when nothing was found), and the first header found with what followed it.
struct TDetected {
  std::string shown;
  bool found = false;
  std::uint8_t type = 0;
  std::string header, rest;  // rest: the header's chunk after it, then every later chunk
};

TDetected Detect(const std::vector<std::string>& chunks) {
  TZHeaderDetector detector({z::ZRQINIT, z::ZRINIT});
  TDetected d;
  for (const std::string& chunk : chunks) {
    if (d.found) {
      d.rest += chunk;
      continue;
    }
    const TZHeaderDetector::TResult r = detector.Feed(chunk.data(), chunk.size());
    d.shown += r.show;
    if (!r.found) continue;
    EXPECT_FALSE(detector.Holding());
    d.found = true;
    d.type = r.type;
    d.header = r.header;
    d.rest = r.after;
  }
  if (!d.found) d.shown += detector.Release();
  return d;
}

}  // namespace

TEST(VxTermZHeaderDetector, FindsASoundHexHeaderOfTheTypesAskedFor) {
  const std::string zrqinit = HexHeader(z::THeader::At(z::ZRQINIT, 0));
  const std::string zrinit =
      HexHeader(z::THeader::Flags(z::ZRINIT, z::kCanFdx | z::kCanOvio | z::kCanFc32));
  const std::string tail = "\r\x8a\x11";
  // The CRC digit changed to another: the same length, the same form, a CRC not sound.
  std::string damaged = zrinit;
  damaged.back() = damaged.back() == '0' ? '1' : '0';
  std::string damagedType = zrqinit;
  damagedType[5] = '4';  // ZFILE's type, under ZRQINIT's CRC
  std::string upper = zrinit;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool found;
    std::uint8_t type;
    std::string shown, header, rest;
  } cases[] = {
      {"a sender starting", {"rz\r" + zrqinit + tail}, true, z::ZRQINIT, "rz\r", zrqinit, tail},
      {"a receiver waiting",
       {"rz ready" + zrinit + tail},
       true,
       z::ZRINIT,
       "rz ready",
       zrinit,
       tail},
      {"one pad", {"x" + zrqinit.substr(1) + "y"}, true, z::ZRQINIT, "x", zrqinit.substr(1), "y"},
      {"upper-case digits", {upper}, true, z::ZRINIT, "", upper, ""},
      {"a run of pads", {"****" + zrqinit}, true, z::ZRQINIT, "****", zrqinit, ""},
      {"the pads of a run in chunks",
       {"**", "*", "*", zrqinit},
       true,
       z::ZRQINIT,
       "****",
       zrqinit,
       ""},
      {"two headers: the first", {zrinit + zrqinit}, true, z::ZRINIT, "", zrinit, zrqinit},
      {"a damaged CRC", {"a" + damaged + tail}, false, 0, "a" + damaged + tail, "", ""},
      {"a type changed under its CRC", {damagedType}, false, 0, damagedType, "", ""},
      {"a damaged one, then a sound one",
       {damaged + zrqinit},
       true,
       z::ZRQINIT,
       damaged,
       zrqinit,
       ""},
      {"a type not asked for",
       {HexHeader(z::THeader::At(z::ZFIN, 0))},
       false,
       0,
       HexHeader(z::THeader::At(z::ZFIN, 0)),
       "",
       ""},
      {"plain text with stars",
       {"**bold** and *** and ** B01"},
       false,
       0,
       "**bold** and *** and ** B01",
       "",
       ""},
      {"a cut header",
       {zrqinit.substr(0, 10) + "\r\nok"},
       false,
       0,
       zrqinit.substr(0, 10) + "\r\nok",
       "",
       ""},
      {"a header begun at the end",
       {"text", zrqinit.substr(0, 7)},
       false,
       0,
       "text" + zrqinit.substr(0, 7),
       "",
       ""},
      {"a binary header's start",
       {"**\x18"
        "A\x01\x02"},
       false,
       0,
       "**\x18"
       "A\x01\x02",
       "",
       ""},
      {"the chunk after the header", {"a" + zrinit, "b", "c"}, true, z::ZRINIT, "a", zrinit, "bc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TDetected d = Detect(c.chunks);
    EXPECT_EQ(d.found, c.found);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.shown, c.shown);
    EXPECT_EQ(d.header, c.header);
    EXPECT_EQ(d.rest, c.rest);
  }
}

TEST(VxTermZHeaderDetector, FindsAHeaderSplitAnywhereAcrossChunks) {
  const std::string header = HexHeader(z::THeader::At(z::ZRQINIT, 0));
  const std::string text = "login: **\r\nrz\r" + header + "\r\x8a\x11tail";
  const std::size_t at = text.find(header);
  // Every cut into two chunks, and the stream byte by byte.
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE(cut);
    const TDetected d = Detect({text.substr(0, cut), text.substr(cut)});
    ASSERT_TRUE(d.found);
    EXPECT_EQ(d.shown, text.substr(0, at));
    EXPECT_EQ(d.header, header);
    EXPECT_EQ(d.rest, text.substr(at + header.size()));
  }
  std::vector<std::string> bytes;
  for (const char c : text) bytes.emplace_back(1, c);
  const TDetected d = Detect(bytes);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.shown, text.substr(0, at));
  EXPECT_EQ(d.rest, text.substr(at + header.size()));
}

TEST(VxTermZHeaderDetector, FindsAHeaderInsideNoiseAndNothingInNoiseAlone) {
  const unsigned seed = TestSeed("VxTermZHeaderDetector.Noise");
  std::srand(seed);
  const std::string header = HexHeader(z::THeader::Flags(z::ZRINIT, z::kCanFdx | z::kCanFc32));
  // Noise rich in the bytes a header is made of.
  const char alphabet[] =
      "**\x18\x18"
      "BB0123456789abcdef\r\n xyz";
  const auto noise = [&](std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += alphabet[std::rand() % (sizeof alphabet - 1)];
    return out;
  };
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::string before = noise(static_cast<std::size_t>(std::rand() % 200));
    const std::string after = noise(static_cast<std::size_t>(std::rand() % 200));
    // Noise alone: every byte shown, in order, unless it holds a sound header itself (then
    // the test takes the first one).
    const TDetected alone = Detect({before});
    if (alone.found) {
      EXPECT_EQ(alone.shown + alone.header + alone.rest, before);
      continue;
    }
    EXPECT_EQ(alone.shown, before);
    const std::string text = before + header + after;
    const std::size_t cut = static_cast<std::size_t>(std::rand()) % (text.size() + 1);
    const TDetected d = Detect({text.substr(0, cut), text.substr(cut)});
    ASSERT_TRUE(d.found);
    EXPECT_EQ(d.shown + d.header + d.rest, text);
    EXPECT_EQ(d.header.substr(d.header.size() - 16), header.substr(header.size() - 16));
    // No byte of the noise after the header is taken for part of it.
    EXPECT_LE(d.shown.size() + d.header.size(), before.size() + header.size());
  }
}

TEST(VxTermZHeaderDetector, DropsOnlyTheLineEndAfterAHeader) {
  EXPECT_EQ(TZHeaderDetector::DropLineEnd("\r\x8a\x11text"), "text");
  EXPECT_EQ(TZHeaderDetector::DropLineEnd("\r\ntext"), "text");
  EXPECT_EQ(TZHeaderDetector::DropLineEnd("\r\n\r\n"), "\r\n");
  EXPECT_EQ(TZHeaderDetector::DropLineEnd("text\r\n"), "text\r\n");
  EXPECT_EQ(TZHeaderDetector::DropLineEnd(""), "");
}
