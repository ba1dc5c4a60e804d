#include "session.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <QTime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "devicelost.h"
#include "peerquiet.h"
#include "vxcomm/platform/serialtypes.h"
#include "vxcomm/unqualified.h"

namespace {

constexpr std::size_t kHeldMax = 1 << 20;  // line output kept while the prompt is open
constexpr std::size_t kPartialMax = 1024;

}  // namespace

void TTermComm::SendChar(char ch) {
  if (Active()) ++sent;
  TvxComm::SendChar(ch);
}

void TTermComm::SendString(const std::string& s) {
  if (Active()) sent += s.size();
  TvxComm::SendString(s);
}

void TTermComm::SendData(const void* buffer, Cardinal len) {
  if (Active()) sent += len;
  TvxComm::SendData(buffer, len);
}

std::string TTermComm::SendBreak(int ms) {
  TvxSerialDevice* device = Device();
  if (!device || !Active()) return "the device is not connected";
  if (TvxSerialError e = device->Escape(SETBREAK)) return e.text;
  if (const int e = device->LastLineCallError()) return std::strerror(e);
  QThread::msleep(static_cast<unsigned long>(ms));
  if (TvxSerialError e = device->Escape(CLRBREAK)) return e.text;
  return {};
}

std::string TTermComm::SettingsRefused() {
  TvxSerialDevice* device = Device();
  TDCB runs;
  if (!device || !Active() || device->GetState(runs)) return {};
  const TDCB& set = CommConfig().dcb;
  if (runs.BaudRate == set.BaudRate && runs.ByteSize == set.ByteSize && runs.Parity == set.Parity &&
      runs.StopBits == set.StopBits)
    return {};
  return "the device runs at " + std::to_string(runs.BaudRate) + " bps, " +
         std::to_string(runs.ByteSize) + " data bits, parity " +
         ParityNames().value(runs.Parity).toStdString() + ", stop bits " +
         StopBitsNames().value(runs.StopBits).toStdString();
}

TTerminalSession::TTerminalSession(TConsole& console, const TTerminalOptions& options)
    : console_(console),
      options_(options),
      prompt_(options.escape),
      // In pipe mode standard output carries only the line's bytes: progress goes with the
      // other messages, rewritten in place only where standard error is a terminal.
      progress_(::isatty(STDIN_FILENO) ? stdout : stderr,
                ::isatty(STDIN_FILENO) || ::isatty(STDERR_FILENO)) {
  ApplyLineSettings(comm_, options_.line);
  comm_.SetDrainOnClose(true);
  comm_.SetRS485Mode(options_.rs485);
  comm_.SetRS485Delays(static_cast<Cardinal>(options_.rs485BeforeMs),
                       static_cast<Cardinal>(options_.rs485AfterMs));
  comm_.SetLog(&log_);
  piped_ = !::isatty(STDIN_FILENO);
  echo_ = options_.echo;
  log_.onFailure = [this](const std::string& why) {
    if (!logging_) return;
    logging_ = false;
    Message("cannot write " + log_name_ + ": " + why + "; the log is closed");
  };
  pace_timer_.setSingleShot(true);
  QObject::connect(&pace_timer_, &QTimer::timeout, this, [this] { SendPaced(); });
  escape_timer_.setSingleShot(true);
  // A terminal sends a key's sequence in one write; an ESC alone for this long was the key.
  escape_timer_.setInterval(100);
  QObject::connect(&escape_timer_, &QTimer::timeout, this, [this] {
    if (mode_ == Prompt && prompt_.EndOfKeys() == TPromptLine::Cancel) ClosePrompt();
  });
  comm_.SetReportDeviceLoss(true);  // a device that goes away is told with its reason
  comm_.OnFatalError = [this](TObject*, Cardinal, Cardinal detail, const std::string& msg,
                              bool& raise) {
    raise = false;
    if (comm_.DeviceLost()) lost_text_ = DeviceLostText(options_.device, detail);
    if (fatal_.empty()) fatal_ = comm_.DeviceLost() ? lost_text_ : msg;
  };
  comm_.OnAfterReceive = [this](TObject*, const void* data, Cardinal len) { FromLine(data, len); };
  comm_.OnClose = [this](TObject*) {
    // A close we did not ask for is a device that failed: handled outside the port's event.
    if (!closing_ && !lost_) QTimer::singleShot(0, this, [this] { DeviceLost(); });
  };
  release_timer_.setSingleShot(true);
  release_timer_.setInterval(300);
  QObject::connect(&release_timer_, &QTimer::timeout, this, [this] {
    // The Kermit detector's bytes came before the ZMODEM detector's.
    ShowReceived(detector_.Release());
    ShowReceived(zdetector_.Release());
  });
  SetUpTransfers();
}

TTerminalSession::~TTerminalSession() {
  closing_ = true;
  reconnector_.Stop();
  // What was sent last (an error packet that ends a transfer, keys typed just before quit)
  // leaves before the port closes (DrainOnClose); a peer still sending is read until it
  // stops.
  if (!lost_ && quit_aborted_) WaitUntilPeerQuiet(comm_, 300, 2000);
  comm_.SetActive(false);
  if (raw_log_) std::fclose(raw_log_);
}

bool TTerminalSession::OpenRawLog(std::string& error) {
  if (options_.rawLog.empty() || raw_log_) return true;
  raw_log_ = std::fopen(options_.rawLog.c_str(), "ae");
  if (!raw_log_) error = std::strerror(errno);
  return raw_log_ != nullptr;
}

bool TTerminalSession::Open(std::string& error) {
  comm_.SetDeviceName(ResolveDeviceArgument(options_.device));
  const std::string& device = comm_.DeviceName();
  wait_name_ = device[0] == '/' ? StableDeviceName(device) : device;
  fatal_.clear();
  comm_.SetActive(true);
  if (comm_.Active()) return true;
  error = fatal_.empty() ? "cannot open" : fatal_;
  fatal_.clear();
  return false;
}

void TTerminalSession::Start() {
  console_.Watch([this](const char* data, std::size_t len) { Typed(data, len); });
  console_.CatchSignals([this](int sig) { Quit(128 + sig); });
  Alert("connected to " + options_.device + "; " + EscapeKeyName(options_.escape) +
        " opens the command prompt");
}

void TTerminalSession::Typed(const char* data, std::size_t len) {
  if (len == 0) return Quit(0);  // the console's input ended
  // More keys came: an ESC at the end of the last block was the start of a sequence.
  escape_timer_.stop();
  std::string toLine;
  auto flush = [&] {
    SendTyped(toLine);
    toLine.clear();
  };
  // Keys typed after quit are nobody's.
  for (std::size_t i = 0; i < len && !closing_; ++i) {
    const unsigned char ch = static_cast<unsigned char>(data[i]);
    if (mode_ == Terminal) {
      TypedInTerminal(ch, toLine);
      continue;
    }
    if (mode_ == Transfer) {
      if (ch == 0x03 || ch == options_.escape) CancelTransfer();
      continue;
    }
    switch (prompt_.Feed(ch)) {
      case TPromptLine::Editing:
        DrawPrompt();
        break;
      case TPromptLine::Cancel:
        ClosePrompt();
        break;
      case TPromptLine::CancelThenKey:
        ClosePrompt();
        TypedInTerminal(ch, toLine);
        break;
      case TPromptLine::SendKey:
        ClosePrompt();
        toLine += static_cast<char>(ch);
        break;
      case TPromptLine::Execute: {
        const std::string line = prompt_.Text();
        ClosePrompt();
        flush();
        Run(ParseCommand(line));
        break;
      }
    }
  }
  if (closing_) return;
  flush();
  if (mode_ == Prompt && prompt_.EscapePending()) escape_timer_.start();
}

void TTerminalSession::TypedInTerminal(unsigned char ch, std::string& toLine) {
  if (ch != options_.escape) {
    toLine += static_cast<char>(ch);
    return;
  }
  SendTyped(toLine);
  toLine.clear();
  OpenPrompt();
}

void TTerminalSession::SendTyped(const std::string& bytes) {
  if (bytes.empty() || !comm_.Active() || lost_) return;
  const std::string out = options_.outMap.Apply(bytes);
  // Shown as the device's own echo would be.
  if (echo_) Show(options_.inMap.Apply(out));
  if (!options_.pacing.Paced()) {
    comm_.SendData(out.data(), static_cast<Cardinal>(out.size()));
    return;
  }
  paced_ += out;
  if (!pace_timer_.isActive()) SendPaced();
}

void TTerminalSession::SendPaced() {
  if (!comm_.Active() || lost_ || closing_) {
    paced_.clear();
    return;
  }
  // Typed bytes are no part of a transfer's packets: they wait for its end.
  constexpr int kTransferWaitMs = 100;
  if (mode_ == Transfer) return pace_timer_.start(kTransferWaitMs);
  const TPacedChunk chunk = NextPacedChunk(paced_, options_.pacing);
  if (chunk.length == 0) return;
  comm_.SendData(paced_.data(), static_cast<Cardinal>(chunk.length));
  paced_.erase(0, chunk.length);
  if (!paced_.empty() || chunk.pauseMs > 0) pace_timer_.start(chunk.pauseMs);
}

void TTerminalSession::FromLine(const void* data, std::size_t len) {
  received_ += len;
  // Flushed block by block: what came before a crash or a kill is in the file.
  if (raw_log_ && (std::fwrite(data, 1, len, raw_log_) != len || std::fflush(raw_log_) != 0)) {
    const std::string why = std::strerror(errno);
    std::fclose(raw_log_);
    raw_log_ = nullptr;
    Message("cannot write " + options_.rawLog + ": " + why + "; the raw log is closed");
  }
  // While a transfer runs every byte is the protocol's; the text between packets is kept to
  // show if the transfer fails.
  if (mode_ == Transfer) return far_end_.Feed(static_cast<const char*>(data), len);
  std::string bytes = DropLatePackets(static_cast<const char*>(data), len);
  if (!options_.autoReceive) return ShowReceived(bytes);
  DetectTransfers(std::move(bytes));
}

void TTerminalSession::DetectTransfers(std::string bytes) {
  for (;;) {
    // What comes before a ZMODEM header may hold a Send-Init, which then came first.
    TZHeaderDetector::TResult z = zdetector_.Feed(bytes.data(), bytes.size());
    vxkermit::TSendInitDetector::TResult r = detector_.Feed(z.show.data(), z.show.size());
    ShowReceived(r.show);
    if (r.found) {
      release_timer_.stop();
      if (mode_ == Prompt) ClosePrompt();
      // Everything after the Send-Init is Kermit's, the bytes the ZMODEM detector looked at
      // too.
      return StartReceive(TProtocol::Kermit, "",
                          r.packet + zdetector_.Release() + z.header + z.after);
    }
    if (!z.found) break;
    // Held bytes that may have begun a Send-Init came before the header: text after all.
    ShowReceived(detector_.Release());
    if (z.type == vxzmodem::ZRQINIT) {
      release_timer_.stop();
      if (mode_ == Prompt) ClosePrompt();
      StartReceive(TProtocol::ZModem, "", z.after);
      if (mode_ == Transfer) return;
    } else {
      NoteReceiverWaits();
    }
    // The receive could not start, or a ZRINIT was told: the bytes after the header are
    // looked at as the rest.
    bytes = TZHeaderDetector::DropLineEnd(std::move(z.after));
  }
  if (detector_.Holding() || zdetector_.Holding()) release_timer_.start();
}

void TTerminalSession::NoteReceiverWaits() {
  // A receiver left waiting says so again every few seconds.
  constexpr int kRunMs = 30000;
  const bool told = zrinit_clock_.isValid() && zrinit_clock_.elapsed() < kRunMs;
  zrinit_clock_.start();
  if (told) return;
  Message("the far end waits for files (ZMODEM): type send -p zmodem FILE... at the prompt (" +
          EscapeKeyName(options_.escape) + ")");
}

std::string TTerminalSession::DropLatePackets(const char* data, std::size_t len) {
  constexpr int kLateMs = 1000;
  if (!after_transfer_.isValid() || after_transfer_.elapsed() > kLateMs) {
    after_transfer_.invalidate();
    in_late_packet_ = false;
    return std::string(data, len);
  }
  std::string out;
  for (std::size_t i = 0; i < len; ++i) {
    if (data[i] == 0x01) in_late_packet_ = true;
    if (!in_late_packet_) out += data[i];
    if (data[i] == '\r') in_late_packet_ = false;
  }
  return out;
}

void TTerminalSession::ShowReceived(const std::string& received) {
  if (received.empty()) return;
  // Without mappings the bytes are shown as they are, uncopied.
  const std::string mapped =
      options_.inMap.Empty() ? std::string() : options_.inMap.Apply(received);
  const std::string& bytes = options_.inMap.Empty() ? received : mapped;
  constexpr std::size_t kRecentMax = 256;
  recent_ += bytes;
  if (recent_.size() > kRecentMax) recent_.erase(0, recent_.size() - kRecentMax);
  recent_clock_.start();
  if (logging_)
    splitter_.Feed(bytes.data(), bytes.size(),
                   [this](const std::string& line) { log_.AddEntry("< " + line); });
  const std::string stamp = display_.Timestamps()
                                ? FormatStamp(QTime::currentTime().msecsSinceStartOfDay())
                                : std::string();
  Show(display_.Render(bytes.data(), bytes.size(), stamp));
}

void TTerminalSession::Show(const std::string& text) {
  if (mode_ == Prompt) {
    held_ += text;
    // A prompt left open for long keeps the newest output only, and says so when it closes.
    if (held_.size() > kHeldMax) {
      held_dropped_ += held_.size() - kHeldMax;
      held_.erase(0, held_.size() - kHeldMax);
    }
    return;
  }
  std::fflush(stdout);
  TConsole::Write(text);
  for (const char c : text) {
    if (c == '\n') {
      partial_line_.clear();
      at_line_start_ = true;
    } else {
      partial_line_ += c;
      at_line_start_ = false;
    }
  }
  if (partial_line_.size() > kPartialMax)
    partial_line_.erase(0, partial_line_.size() - kPartialMax);
}

void TTerminalSession::Message(const std::string& text) {
  if (logging_) log_.AddEntry(text);
  if (piped_)
    ToUser("vxterm: " + text + "\n");
  else
    Show(std::string(at_line_start_ ? "" : "\r\n") + "vxterm: " + text + "\r\n");
}

void TTerminalSession::ToUser(const std::string& text) {
  std::fflush(stdout);
  TConsole::Write(text, piped_ ? STDERR_FILENO : STDOUT_FILENO);
}

void TTerminalSession::Alert(const std::string& text) {
  Message(text);
  if (options_.bell) ToUser("\a");
}

void TTerminalSession::OpenPrompt() {
  mode_ = Prompt;
  prompt_.Clear();
  prompt_rows_ = TConsole::Rows();
  std::fflush(stdout);
  if (prompt_rows_ > 0)
    ToUser("\0337\033[" + std::to_string(prompt_rows_) + ";1H");
  else if (!at_line_start_)
    ToUser("\r\n");
  DrawPrompt();
}

void TTerminalSession::DrawPrompt() {
  ToUser("\r\033[2Kvxterm> " + prompt_.Text());
}

void TTerminalSession::ClosePrompt() {
  if (mode_ != Prompt) return;
  if (prompt_rows_ > 0) {
    // Back where the line's output was; the last line is written again in case the
    // prompt covered it.
    const std::size_t cr = partial_line_.find_last_of('\r');
    ToUser("\r\033[2K\0338\r" +
           (cr == std::string::npos ? partial_line_ : partial_line_.substr(cr + 1)));
  } else {
    ToUser("\r\033[2K");
    at_line_start_ = true;
    partial_line_.clear();
  }
  mode_ = Terminal;
  escape_timer_.stop();
  std::string held;
  held.swap(held_);
  Show(held);
  if (held_dropped_ > 0)
    Message(std::to_string(held_dropped_) +
            " bytes of output were dropped while the prompt was open (it keeps the last " +
            std::to_string(kHeldMax >> 20) + " MiB)");
  held_dropped_ = 0;
}

void TTerminalSession::Quit(int code) {
  if (closing_) return;
  if (mode_ == Prompt) ClosePrompt();
  if (mode_ == Transfer && started_) {
    // The E packet goes ahead of the data still queued, which the peer no longer needs.
    comm_.PurgeOut();
    transfer_->AbortTransfer("cancelled: vxterm quits");
    quit_aborted_ = true;
  }
  // The shell's prompt that follows starts on a line of its own.
  if (!lost_)
    Message("disconnected from " + options_.device);
  else if (!at_line_start_)
    Show("\r\n");
  exit_code_ = code;
  closing_ = true;
  reconnector_.Stop();
  QCoreApplication::exit(code);
}

void TTerminalSession::DeviceLost() {
  if (closing_ || lost_) return;
  lost_ = true;
  const std::string lost = lost_text_.empty() ? options_.device + " went away" : lost_text_;
  lost_text_.clear();
  if (mode_ == Transfer) {
    if (fatal_.empty()) fatal_ = lost;
    FinishTransfer();
  }
  if (mode_ == Prompt) ClosePrompt();
  if (!options_.reconnect) {
    Alert(lost);
    return Quit(1);
  }
  Alert(lost + "; waiting for " + wait_name_ + " to come back (" + EscapeKeyName(options_.escape) +
        " and quit to leave)");
  comm_.SetDeviceName(wait_name_);
  reconnector_.Start(wait_name_, [this] { return Reopen(); });
}

bool TTerminalSession::Reopen() {
  fatal_.clear();
  comm_.SetActive(true);
  const bool open = comm_.Active();
  fatal_.clear();
  if (!open) return false;
  lost_ = false;
  Alert(wait_name_ + " is back: reconnected with the same settings");
  return true;
}
