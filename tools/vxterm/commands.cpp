#include "commands.h"

#include <algorithm>
#include <iterator>

const char* const kCommandHelp =
    "commands: send [-p PROTO] PATH... | receive [-p PROTO] [DIR] | break | dtr on|off|pulse [MS] "
    "| "
    "rts on|off|pulse [MS] | lines | speed BPS | data-bits N | parity P | stop-bits N | "
    "flow F | echo on|off | send-hex HEX... | stats | log FILE|off | hex on|off | "
    "timestamps on|off | quit";

std::vector<std::string> SplitWords(const std::string& line, std::string& error) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < line.size())
        word += line[++i];
      else
        word += c;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote) error = "unclosed quote";
  if (inWord) words.push_back(word);
  return words;
}

namespace {

TCommand Invalid(const std::string& why) {
  TCommand c;
  c.kind = TCommandKind::Invalid;
  c.error = why;
  return c;
}

// "on" or "off" as the single argument of Name.
TCommand Switch(TCommandKind kind, const std::string& name, const std::vector<std::string>& w) {
  if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return Invalid(name + " takes on or off");
  TCommand c;
  c.kind = kind;
  c.on = w[1] == "on";
  return c;
}

// A decimal number within Low..High, nothing else.
bool Number(const std::string& text, int low, int high, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
}

// dtr and rts: on, off, or pulse with an optional length.
TCommand ModemLine(TCommandKind kind, const std::string& name, const std::vector<std::string>& w) {
  if (w.size() < 2 || w[1] != "pulse") {
    TCommand c = Switch(kind, name, w);
    if (c.kind == TCommandKind::Invalid) c.error = name + " takes on, off or pulse [MS]";
    return c;
  }
  TCommand c;
  c.kind = kind;
  c.pulse = true;
  c.number = kDefaultPulseMs;
  if (w.size() > 3 || (w.size() == 3 && !Number(w[2], 1, kMaxPulseMs, c.number)))
    return Invalid(name + " pulse takes a length in ms, 1 to " + std::to_string(kMaxPulseMs));
  return c;
}

// A command with one number within Low..High.
TCommand Numbered(TCommandKind kind, const std::string& name, const std::vector<std::string>& w,
                  int low, int high) {
  TCommand c;
  c.kind = kind;
  if (w.size() != 2 || !Number(w[1], low, high, c.number))
    return Invalid(name + " takes a number from " + std::to_string(low) + " to " +
                   std::to_string(high));
  return c;
}

// A command with one name, checked by the caller.
// The protocol names of -p, in the order of TProtocol.
const char* const kProtocolNames[] = {"kermit", "xmodem", "xmodem-1k", "ymodem", "zmodem"};
const char* const kProtocolList = "kermit, xmodem, xmodem-1k, ymodem or zmodem";

// send [-p PROTOCOL] PATH... and receive [-p PROTOCOL] [DIR]; an XMODEM receive names the
// file to store, since XMODEM carries no name.
TCommand Transfer(const std::string& name, std::vector<std::string> rest) {
  TCommand c;
  if (!rest.empty() && rest[0] == "-p") {
    if (rest.size() < 2) return Invalid(std::string("-p needs a protocol: ") + kProtocolList);
    const auto* found = std::find(std::begin(kProtocolNames), std::end(kProtocolNames), rest[1]);
    if (found == std::end(kProtocolNames))
      return Invalid("unknown protocol " + rest[1] + ": " + kProtocolList);
    c.protocol = static_cast<TProtocol>(found - std::begin(kProtocolNames));
    rest.erase(rest.begin(), rest.begin() + 2);
  }
  if (name == "send") {
    if (rest.empty()) return Invalid("send needs at least one path");
    if ((c.protocol == TProtocol::XModem || c.protocol == TProtocol::XModem1K) && rest.size() > 1)
      return Invalid("XMODEM sends one file");
    c.kind = TCommandKind::Send;
  } else {
    if (c.protocol == TProtocol::XModem1K)
      return Invalid("receive takes xmodem: the sender picks the block size");
    if (c.protocol == TProtocol::XModem && rest.size() != 1)
      return Invalid("receive -p xmodem takes the file to store: XMODEM carries no name");
    if (rest.size() > 1) return Invalid("receive takes one directory");
    c.kind = TCommandKind::Receive;
  }
  c.args = rest;
  return c;
}

TCommand Named(TCommandKind kind, const std::string& name, const std::vector<std::string>& w) {
  if (w.size() != 2) return Invalid(name + " takes one value");
  TCommand c;
  c.kind = kind;
  c.args = {w[1]};
  return c;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseHexBytes(const std::vector<std::string>& words, std::string& bytes, std::string& error) {
  std::string out;
  for (const std::string& word : words) {
    const std::size_t skip =
        word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X') ? 2 : 0;
    const std::size_t digits = word.size() - skip;
    bool good = digits > 0 && digits % 2 == 0;
    for (std::size_t i = skip; good && i < word.size(); i += 2) {
      const int high = HexDigit(word[i]), low = HexDigit(word[i + 1]);
      good = high >= 0 && low >= 0;
      if (good) out += static_cast<char>(high * 16 + low);
    }
    if (!good) {
      error = "not hex bytes: " + word;
      return false;
    }
  }
  if (out.empty()) {
    error = "send-hex needs at least one byte";
    return false;
  }
  bytes = out;
  return true;
}

TCommand ParseCommand(const std::string& line) {
  std::string error;
  const std::vector<std::string> w = SplitWords(line, error);
  if (!error.empty()) return Invalid(error);
  TCommand c;
  if (w.empty()) return c;
  const std::string& name = w[0];
  const std::vector<std::string> rest(w.begin() + 1, w.end());
  auto alone = [&](TCommandKind kind) {
    if (!rest.empty()) return Invalid(name + " takes no argument");
    c.kind = kind;
    return c;
  };
  if (name == "send" || name == "receive") return Transfer(name, rest);
  if (name == "break") return alone(TCommandKind::Break);
  if (name == "dtr") return ModemLine(TCommandKind::Dtr, name, w);
  if (name == "rts") return ModemLine(TCommandKind::Rts, name, w);
  if (name == "lines") return alone(TCommandKind::Lines);
  if (name == "speed") return Numbered(TCommandKind::Speed, name, w, 50, 4000000);
  if (name == "data-bits") return Numbered(TCommandKind::DataBits, name, w, 5, 8);
  if (name == "parity") return Named(TCommandKind::Parity, name, w);
  if (name == "stop-bits") return Named(TCommandKind::StopBits, name, w);
  if (name == "flow") return Named(TCommandKind::Flow, name, w);
  if (name == "echo") return Switch(TCommandKind::Echo, name, w);
  if (name == "stats") return alone(TCommandKind::Stats);
  if (name == "send-hex") {
    if (!ParseHexBytes(rest, c.bytes, c.error)) return Invalid(c.error);
    c.kind = TCommandKind::SendHex;
    return c;
  }
  if (name == "hex") return Switch(TCommandKind::Hex, name, w);
  if (name == "timestamps") return Switch(TCommandKind::Timestamps, name, w);
  if (name == "help" || name == "?") return alone(TCommandKind::Help);
  if (name == "quit" || name == "exit") return alone(TCommandKind::Quit);
  if (name == "log") {
    if (rest.size() != 1) return Invalid("log takes a file name or off");
    if (rest[0] == "off") {
      c.kind = TCommandKind::LogOff;
      return c;
    }
    c.kind = TCommandKind::Log;
    c.args = rest;
    return c;
  }
  return Invalid("unknown command " + name);
}
