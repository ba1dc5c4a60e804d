#include "commands.h"

const char* const kCommandHelp =
    "commands: send PATH... | receive [DIR] | break | dtr on|off | rts on|off | lines | "
    "log FILE|off | hex on|off | timestamps on|off | quit";

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

}  // namespace

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
  if (name == "send") {
    if (rest.empty()) return Invalid("send needs at least one path");
    c.kind = TCommandKind::Send;
    c.args = rest;
    return c;
  }
  if (name == "receive") {
    if (rest.size() > 1) return Invalid("receive takes one directory");
    c.kind = TCommandKind::Receive;
    c.args = rest;
    return c;
  }
  if (name == "break") return alone(TCommandKind::Break);
  if (name == "dtr") return Switch(TCommandKind::Dtr, name, w);
  if (name == "rts") return Switch(TCommandKind::Rts, name, w);
  if (name == "lines") return alone(TCommandKind::Lines);
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
