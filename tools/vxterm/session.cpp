#include "session.h"

#include <QCoreApplication>
#include <QThread>
#include <QTime>
#include <cstdio>

#include "outputdrain.h"
#include "platform/serialtypes.h"

namespace {

constexpr std::size_t kHeldMax = 1 << 20;  // line output kept while the prompt is open
constexpr std::size_t kPartialMax = 1024;

}  // namespace

bool TTermComm::SendBreak(int ms) {
  TvxSerialDevice* device = Device();
  if (!device || !Active()) return false;
  if (device->Escape(SETBREAK)) return false;
  QThread::msleep(static_cast<unsigned long>(ms));
  return !device->Escape(CLRBREAK);
}

void TTermKermit::AbortTransfer(const std::string& reason) {
  if (failure.empty()) failure = reason.empty() ? "aborted" : reason;
  TvxKermit::AbortTransfer(reason);
  if (onAbort) onAbort();
}

TTerminalSession::TTerminalSession(TConsole& console, const TTerminalOptions& options)
    : console_(console), options_(options), prompt_(options.escape), progress_(stdout, true) {
  ApplyLineSettings(comm_, options_.line);
  comm_.SetLog(&log_);
  // No file until the log command names one: nothing is written beside the program.
  log_.SetOptions(TLogOptions{});
  log_.SetFileName("");
  log_.SetSizeLimit(0);
  log_.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (!logging_) return;
    // The log is given up at once; the user is told outside the log's own call.
    logging_ = false;
    QTimer::singleShot(0, this, [this, msg] {
      log_.SetOptions(TLogOptions{});
      log_.SetFileName("");
      Message(msg + "; the log is closed");
    });
  };
  comm_.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    if (fatal_.empty()) fatal_ = msg;
  };
  comm_.OnAfterReceive = [this](TObject*, const void* data, Cardinal len) { FromLine(data, len); };
  comm_.OnClose = [this](TObject*) {
    // A close we did not ask for is a device that failed: handled outside the port's event.
    if (!closing_ && !lost_) QTimer::singleShot(0, this, [this] { DeviceLost(); });
  };
  release_timer_.setSingleShot(true);
  release_timer_.setInterval(300);
  QObject::connect(&release_timer_, &QTimer::timeout, this,
                   [this] { ShowReceived(detector_.Release()); });
  SetUpKermit();
}

TTerminalSession::~TTerminalSession() {
  closing_ = true;
  reconnector_.Stop();
  // What was sent last (an error packet that ends a transfer, keys typed just before quit)
  // leaves before the close purges it; a peer still sending is read until it stops.
  if (!lost_ && quit_aborted_)
    DrainUntilQuiet(comm_, 300, 2000);
  else if (!lost_)
    DrainOutput(comm_, 2000);
  comm_.SetActive(false);
}

bool TTerminalSession::Open(std::string& error) {
  comm_.path = ResolveDeviceArgument(options_.device);
  wait_name_ = comm_.path[0] == '/' ? StableDeviceName(comm_.path) : comm_.path;
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
  Message("connected to " + options_.device + "; " + EscapeKeyName(options_.escape) +
          " opens the command prompt");
}

void TTerminalSession::Typed(const char* data, std::size_t len) {
  if (len == 0) return Quit(0);  // the console's input ended
  std::string toLine;
  auto flush = [&] {
    if (!toLine.empty() && comm_.Active() && !lost_)
      comm_.SendData(toLine.data(), static_cast<Cardinal>(toLine.size()));
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
  if (!closing_) flush();
}

void TTerminalSession::TypedInTerminal(unsigned char ch, std::string& toLine) {
  if (ch != options_.escape) {
    toLine += static_cast<char>(ch);
    return;
  }
  if (!toLine.empty() && comm_.Active() && !lost_)
    comm_.SendData(toLine.data(), static_cast<Cardinal>(toLine.size()));
  toLine.clear();
  OpenPrompt();
}

void TTerminalSession::FromLine(const void* data, std::size_t len) {
  // While a transfer runs every byte is the protocol's; the text between packets is kept to
  // show if the transfer fails.
  if (mode_ == Transfer) return far_end_.Feed(static_cast<const char*>(data), len);
  const std::string bytes = DropLatePackets(static_cast<const char*>(data), len);
  if (!options_.autoReceive) return ShowReceived(bytes);
  TSendInitDetector::TResult r = detector_.Feed(bytes.data(), bytes.size());
  ShowReceived(r.show);
  if (r.found) {
    release_timer_.stop();
    if (mode_ == Prompt) ClosePrompt();
    StartReceive("", r.packet);
  } else if (detector_.Holding()) {
    release_timer_.start();
  }
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

void TTerminalSession::ShowReceived(const std::string& bytes) {
  if (bytes.empty()) return;
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
    // A prompt left open for long keeps the newest output only.
    if (held_.size() > kHeldMax) held_.erase(0, held_.size() - kHeldMax);
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
  Show(std::string(at_line_start_ ? "" : "\r\n") + "vxterm: " + text + "\r\n");
}

void TTerminalSession::OpenPrompt() {
  mode_ = Prompt;
  prompt_.Clear();
  prompt_rows_ = TConsole::Rows();
  std::fflush(stdout);
  if (prompt_rows_ > 0)
    TConsole::Write("\0337\033[" + std::to_string(prompt_rows_) + ";1H");
  else if (!at_line_start_)
    TConsole::Write("\r\n");
  DrawPrompt();
}

void TTerminalSession::DrawPrompt() {
  TConsole::Write("\r\033[2Kvxterm> " + prompt_.Text());
}

void TTerminalSession::ClosePrompt() {
  if (mode_ != Prompt) return;
  if (prompt_rows_ > 0) {
    // Back where the line's output was; the last line is written again in case the
    // prompt covered it.
    const std::size_t cr = partial_line_.find_last_of('\r');
    TConsole::Write("\r\033[2K\0338\r" +
                    (cr == std::string::npos ? partial_line_ : partial_line_.substr(cr + 1)));
  } else {
    TConsole::Write("\r\033[2K");
    at_line_start_ = true;
    partial_line_.clear();
  }
  mode_ = Terminal;
  std::string held;
  held.swap(held_);
  Show(held);
}

void TTerminalSession::Quit(int code) {
  if (mode_ == Prompt) ClosePrompt();
  if (mode_ == Transfer && started_) {
    // The E packet goes ahead of the data still queued, which the peer no longer needs.
    comm_.PurgeOut();
    kermit_.AbortTransfer("cancelled: vxterm quits");
    quit_aborted_ = true;
  }
  exit_code_ = code;
  closing_ = true;
  reconnector_.Stop();
  QCoreApplication::exit(code);
}

void TTerminalSession::DeviceLost() {
  if (closing_ || lost_) return;
  lost_ = true;
  if (mode_ == Transfer) {
    if (fatal_.empty()) fatal_ = "the device went away";
    FinishTransfer();
  }
  if (mode_ == Prompt) ClosePrompt();
  if (!options_.reconnect) {
    Message(options_.device + " went away");
    return Quit(1);
  }
  Message(options_.device + " went away; waiting for " + wait_name_ + " to come back (" +
          EscapeKeyName(options_.escape) + " and quit to leave)");
  comm_.path = wait_name_;
  reconnector_.Start(wait_name_, [this] { return Reopen(); });
}

bool TTerminalSession::Reopen() {
  fatal_.clear();
  comm_.SetActive(true);
  const bool open = comm_.Active();
  fatal_.clear();
  if (!open) return false;
  lost_ = false;
  Message(wait_name_ + " is back: reconnected with the same settings");
  return true;
}
