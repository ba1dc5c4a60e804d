// The commands of the prompt, carried out on the session.
#include <unistd.h>

#include <climits>

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
      if (needLine()) StartSend(c.protocol, c.args);
      return;
    case TCommandKind::Receive:
      if (needLine()) StartReceive(c.protocol, c.args.empty() ? "" : c.args[0], "");
      return;
    case TCommandKind::Break:
    case TCommandKind::Dtr:
    case TCommandKind::Rts:
    case TCommandKind::Lines:
    case TCommandKind::Speed:
    case TCommandKind::DataBits:
    case TCommandKind::Parity:
    case TCommandKind::StopBits:
    case TCommandKind::Flow:
      if (needLine()) RunLineCommand(c);
      return;
    case TCommandKind::SendHex:
      if (needLine()) {
        Message("sending " + std::to_string(c.bytes.size()) +
                (c.bytes.size() == 1 ? " byte" : " bytes"));
        comm_.SendData(c.bytes.data(), static_cast<Cardinal>(c.bytes.size()));
      }
      return;
    case TCommandKind::Echo:
      echo_ = c.on;
      Message(std::string("local echo ") + (c.on ? "on" : "off"));
      return;
    case TCommandKind::Stats:
      return ShowStats();
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

void TTerminalSession::ShowStats() {
  Message("received " + std::to_string(received_) + " bytes, sent " + std::to_string(comm_.sent) +
          " bytes");
}

void TTerminalSession::StartLog(const std::string& name) {
  // A bare name is a file in the directory vxterm runs in, as the user means.
  char cwd[PATH_MAX];
  const std::string file =
      name[0] == '/' || !::getcwd(cwd, sizeof cwd) ? name : std::string(cwd) + "/" + name;
  if (logging_) StopLog();
  std::string why;
  if (!log_.Open(file, why)) {
    Message("cannot write " + file + ": " + why);
    return;
  }
  log_name_ = file;
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
  log_.Close();
}
