// The commands of the prompt, carried out on the session.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "session.h"

void TTerminalSession::Run(const TCommand& c) {
  const bool connected = comm_.Active() && !lost_;
  auto needLine = [&] {
    if (!connected) Message("the device is not connected");
    return connected;
  };
  switch (c.kind) {
    case TCommandKind::Empty:
      return;
    case TCommandKind::Invalid:
      Message(c.error);
      Message(kCommandHelp);
      return;
    case TCommandKind::Help:
      Message(kCommandHelp);
      Message(EscapeKeyName(options_.escape) + " twice sends " + EscapeKeyName(options_.escape) +
              " itself");
      return;
    case TCommandKind::Quit:
      return Quit(0);
    case TCommandKind::Send:
      if (needLine()) StartSend(c.args);
      return;
    case TCommandKind::Receive:
      if (needLine()) StartReceive(c.args.empty() ? "" : c.args[0], "");
      return;
    case TCommandKind::Break:
      if (needLine()) Message(comm_.SendBreak(250) ? "break sent" : "the device refused the break");
      return;
    case TCommandKind::Dtr:
      if (needLine()) {
        comm_.SetDTR(c.on);
        Message(std::string("DTR ") + (c.on ? "on" : "off"));
      }
      return;
    case TCommandKind::Rts:
      if (needLine()) {
        comm_.SetRTS(c.on);
        Message(std::string("RTS ") + (c.on ? "on" : "off"));
      }
      return;
    case TCommandKind::Lines:
      if (needLine()) ShowLines();
      return;
    case TCommandKind::Log:
      return StartLog(c.args[0]);
    case TCommandKind::LogOff:
      return StopLog();
    case TCommandKind::Hex:
      Show(display_.SetHex(c.on));
      Message(std::string("hex view ") + (c.on ? "on" : "off"));
      return;
    case TCommandKind::Timestamps:
      display_.SetTimestamps(c.on);
      Message(std::string("time stamps ") + (c.on ? "on" : "off"));
      return;
  }
}

void TTerminalSession::ShowLines() {
  const TModemSignals s = comm_.ModemSignals();
  auto state = [&](TModemSignal signal) { return s.Contains(signal) ? "on" : "off"; };
  Message(std::string("CTS ") + state(msCTS) + "  DSR " + state(msDSR) + "  DCD " + state(msRLSD) +
          "  RI " + state(msRing));
}

void TTerminalSession::StartLog(const std::string& name) {
  // The log component puts a bare name beside the program; the user means this directory.
  char cwd[PATH_MAX];
  const std::string file =
      name[0] == '/' || !::getcwd(cwd, sizeof cwd) ? name : std::string(cwd) + "/" + name;
  // The log component saves quietly; a file that cannot be written is told here.
  std::FILE* f = std::fopen(file.c_str(), "a");
  if (!f) {
    Message("cannot write " + file + ": " + std::strerror(errno));
    return;
  }
  std::fclose(f);
  if (logging_) StopLog();
  log_name_ = file;
  log_.SetFileName(file);
  log_.SetOptions(TLogOptions{loSafeMode, loDate, loTime, loMSec});
  logging_ = true;
  Message("logging to " + file);
}

void TTerminalSession::StopLog() {
  if (!logging_) {
    Message("no log is written");
    return;
  }
  const std::string rest = splitter_.Rest();
  if (!rest.empty()) log_.AddEntry("< " + rest);
  Message("log " + log_name_ + " closed");
  logging_ = false;
  log_.SaveToFile();
  log_.SetOptions(TLogOptions{});
  log_.SetFileName("");
}
