// The commands of the vxterm> prompt: a typed line split into words (quotes and backslashes
// keep blanks inside a word) and recognised as one command with its arguments.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>
#include <vector>

enum class TCommandKind {
  Empty,       // nothing typed
  Send,        // send [-p PROTOCOL] PATH...
  Receive,     // receive [-p PROTOCOL] [DIR] (XMODEM: receive -p xmodem FILE)
  Break,       // break
  Dtr,         // dtr on|off|pulse [MS]
  Rts,         // rts on|off|pulse [MS]
  Lines,       // lines
  Speed,       // speed BPS
  DataBits,    // data-bits N
  Parity,      // parity NAME
  StopBits,    // stop-bits NAME
  Flow,        // flow NAME
  Echo,        // echo on|off
  SendHex,     // send-hex HEX...
  Stats,       // stats
  Log,         // log FILE
  LogOff,      // log off
  Hex,         // hex on|off
  Timestamps,  // timestamps on|off
  Help,        // help or ?
  Quit,        // quit (or exit)
  Invalid      // anything else: Error says why
};

// The protocol of a send or receive: Kermit, XMODEM (128-byte or 1K blocks), YMODEM or
// ZMODEM.
enum class TProtocol { Kermit, XModem, XModem1K, YModem, ZModem };

struct TCommand {
  // The paths of send, the directory of receive (the file, for XMODEM), the log file, the name
  // given to parity, stop-bits and flow.
  std::vector<std::string> args;
  TCommandKind kind = TCommandKind::Empty;
  TProtocol protocol = TProtocol::Kermit;  // send, receive
  bool on = false;                         // dtr, rts, hex, timestamps, echo
  bool pulse = false;                      // dtr, rts: on (or off) for Number ms, then back
  int number = 0;                          // speed, data-bits, the pulse's ms
  std::string bytes;                       // send-hex
  std::string error;                       // Invalid: the message, followed by the one-line help
};

// The longest pulse of dtr pulse and rts pulse, and the one given without a length (ms).
constexpr int kMaxPulseMs = 10000;
constexpr int kDefaultPulseMs = 100;

// The one-line summary of the commands, shown after an unknown command and for help.
extern const char* const kCommandHelp;

// Splits Line into words: blanks separate words, "..." and '...' keep blanks, and a backslash
// keeps the next byte as it is. An unclosed quote sets Error and returns what was read.
std::vector<std::string> SplitWords(const std::string& line, std::string& error);

// The bytes the hex Words give: each word pairs of hex digits ("01", "0d0a", "0xFF");
// false, with Error, for anything else or for no byte at all.
bool ParseHexBytes(const std::vector<std::string>& words, std::string& bytes, std::string& error);

// Recognises the command on Line.
TCommand ParseCommand(const std::string& line);
