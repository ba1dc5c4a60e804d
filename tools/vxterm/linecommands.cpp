// The prompt's commands on the line itself: break, the modem lines and the line settings.
// Each says what the device did; a call the device refused is told with the system's reason.
#include <QThread>
#include <cstring>

#include "session.h"

namespace {

const char* OnOff(bool on) {
  return on ? "on" : "off";
}

}  // namespace

void TTerminalSession::RunLineCommand(const TCommand& c) {
  switch (c.kind) {
    case TCommandKind::Break: {
      const std::string why = comm_.SendBreak(250);
      Message(why.empty() ? "break sent" : "cannot send a break: " + why);
      return;
    }
    case TCommandKind::Dtr:
    case TCommandKind::Rts:
      return SetModemLine(c);
    case TCommandKind::Lines:
      return ShowLines();
    default:
      return SetLineSetting(c);
  }
}

void TTerminalSession::SetModemLine(const TCommand& c) {
  const bool dtr = c.kind == TCommandKind::Dtr;
  const std::string name = dtr ? "DTR" : "RTS";
  auto set = [&](bool on) {
    if (dtr)
      comm_.SetDTR(on);
    else
      comm_.SetRTS(on);
    const int error = comm_.LastLineError();
    if (error) Message("cannot set " + name + " " + OnOff(on) + ": " + std::strerror(error));
    return error == 0;
  };
  if (!c.pulse) {
    if (set(c.on)) Message(name + " " + OnOff(c.on));
    return;
  }
  // A pulse drops the line for its length and raises it again (a reset on many boards).
  if (!set(false)) return;
  QThread::msleep(static_cast<unsigned long>(c.number));
  if (set(true)) Message(name + " pulsed off for " + std::to_string(c.number) + " ms");
}

void TTerminalSession::ShowLines() {
  const TModemSignals s = comm_.ModemSignals();
  if (const int error = comm_.LastLineError()) {
    Message(std::string("cannot read the modem lines: ") + std::strerror(error));
    return;
  }
  auto state = [&](TModemSignal signal) { return OnOff(s.Contains(signal)); };
  Message(std::string("CTS ") + state(msCTS) + "  DSR " + state(msDSR) + "  DCD " + state(msRLSD) +
          "  RI " + state(msRing));
}

void TTerminalSession::SetLineSetting(const TCommand& c) {
  TLineSettings line = options_.line;
  std::string said;
  // A name the option of the same name takes, into Field; false, told, for another.
  auto named = [&](const char* command, const QStringList& names, int& field,
                   const std::string& what) {
    field = static_cast<int>(names.indexOf(QString::fromStdString(c.args[0])));
    said = what + " " + c.args[0];
    if (field < 0) Message(command + (" takes " + names.join(", ").toStdString()));
    return field >= 0;
  };
  switch (c.kind) {
    case TCommandKind::Speed:
      line.bps = c.number;
      said = "speed " + std::to_string(c.number) + " bps";
      break;
    case TCommandKind::DataBits:
      line.dataBits = c.number;
      said = std::to_string(c.number) + " data bits";
      break;
    case TCommandKind::Parity:
      if (!named("parity", ParityNames(), line.parity, "parity")) return;
      break;
    case TCommandKind::StopBits:
      if (!named("stop-bits", StopBitsNames(), line.stopBits, "stop bits")) return;
      break;
    case TCommandKind::Flow:
      if (!named("flow", FlowNames(), line.flow, "flow control")) return;
      break;
    default:
      return;
  }
  ApplyLineSettings(comm_, line);
  const std::string refused = comm_.SettingsRefused();
  if (!refused.empty()) {
    // The settings that worked are put back, so the session goes on as it was.
    ApplyLineSettings(comm_, options_.line);
    Message("the device refused " + said + ": " + refused);
    return;
  }
  options_.line = line;
  Message(said);
}
