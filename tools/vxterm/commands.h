// The commands of the vxterm> prompt: a typed line split into words (quotes and backslashes
// keep blanks inside a word) and recognised as one command with its arguments.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>
#include <vector>

enum class TCommandKind {
  Empty,       // nothing typed
  Send,        // send PATH...
  Receive,     // receive [DIR]
  Break,       // break
  Dtr,         // dtr on|off
  Rts,         // rts on|off
  Lines,       // lines
  Log,         // log FILE
  LogOff,      // log off
  Hex,         // hex on|off
  Timestamps,  // timestamps on|off
  Help,        // help or ?
  Quit,        // quit (or exit)
  Invalid      // anything else: Error says why
};

struct TCommand {
  TCommandKind kind = TCommandKind::Empty;
  std::vector<std::string> args;  // the paths of send, the directory of receive, the log file
  bool on = false;                // dtr, rts, hex, timestamps
  std::string error;              // Invalid: the message, followed by the one-line help
};

// The one-line summary of the commands, shown after an unknown command and for help.
extern const char* const kCommandHelp;

// Splits Line into words: blanks separate words, "..." and '...' keep blanks, and a backslash
// keeps the next byte as it is. An unclosed quote sets Error and returns what was read.
std::vector<std::string> SplitWords(const std::string& line, std::string& error);

// Recognises the command on Line.
TCommand ParseCommand(const std::string& line);
