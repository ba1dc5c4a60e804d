// The terminal session: the line (a TvxComm) joined to the console, the vxterm> prompt and
// its commands, Kermit, XMODEM, YMODEM and ZMODEM transfers with their progress line (and,
// with --auto-receive, the Kermit and ZMODEM ones the far end starts), the session log and
// the wait for a device that went away.
//
// Thread: the main thread; the port delivers its events there.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "console.h"
#include "display.h"
#include "farendtext.h"
#include "keys.h"
#include "linemap.h"
#include "lineoptions.h"
#include "pacing.h"
#include "progressline.h"
#include "reconnect.h"
#include "sessionlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/sendinitdetector.h"
#include "vxcomm/vxxmodem.h"
#include "vxcomm/vxymodem.h"
#include "vxcomm/vxzmodem.h"
#include "zheaderdetector.h"

struct TTerminalOptions {
  std::string device;  // as the user gave it
  unsigned char escape = 0x1d;
  bool autoReceive = false;
  bool reconnect = true;
  bool echo = false;
  bool bell = false;  // --alert bell: the console's bell at connect and disconnect
  bool rs485 = false;
  int rs485BeforeMs = 0, rs485AfterMs = 0;  // RTS up before the first byte, after the last
  TLineMap inMap, outMap;                   // received bytes as shown; typed bytes as sent
  TPacing pacing;
  std::string rawLog;  // --log-raw: every received byte, as it came
  TLineSettings line;
  TKermitSettings kermit;
};

// The serial component on a device path (or COMn name), with a break of the line, the
// count of bytes sent, and the line settings the device took.
class TTermComm : public TvxComm {
 public:
  std::uint64_t sent = 0;  // bytes handed to the port since the start; main thread
  void SendChar(char ch) override;
  void SendString(const std::string& s) override;
  void SendData(const void* buffer, Cardinal len) override;
  // Holds the line in the break state for Ms milliseconds (the event loop runs meanwhile);
  // empty when done, else why not.
  std::string SendBreak(int ms);
  // Empty when the open device runs the speed and framing set, else what it runs.
  std::string SettingsRefused();
};

class TTerminalSession : public QObject {
 public:
  TTerminalSession(TConsole& console, const TTerminalOptions& options);
  ~TTerminalSession() override;
  // Opens the device; false with Error (the library's reason: the lock owner, the group to
  // join) when it cannot.
  bool Open(std::string& error);
  // Opens the file of --log-raw, if one was given; false with Error when it cannot.
  bool OpenRawLog(std::string& error);
  // Starts taking keys from the console. The event loop ends, with ExitCode set, at quit, at
  // the end of the console's input, at a signal, or when the device went away and
  // reconnecting is off.
  void Start();
  int ExitCode() const { return exit_code_; }

 private:
  enum TMode { Terminal, Prompt, Transfer };

  // Keys, prompt and output (session.cpp).
  void Typed(const char* data, std::size_t len);
  void TypedInTerminal(unsigned char ch, std::string& toLine);
  // Sends typed bytes (mapped, echoed, paced as the options say).
  void SendTyped(const std::string& bytes);
  void SendPaced();
  void FromLine(const void* data, std::size_t len);
  // Received bytes in the terminal with --auto-receive: a Kermit Send-Init or a ZMODEM
  // sender's ZRQINIT starts a receive, a ZMODEM receiver's ZRINIT is told; the rest is shown.
  void DetectTransfers(std::string bytes);
  // Tells, once for a run of them, that the far end's receiver waits.
  void NoteReceiverWaits();
  void Show(const std::string& text);
  void ShowReceived(const std::string& bytes);
  std::string DropLatePackets(const char* data, std::size_t len);
  void Message(const std::string& text);
  // Text for the user, not from the line: the console, or standard error in pipe mode.
  void ToUser(const std::string& text);
  // A message with the bell when --alert asks for it: connected, disconnected.
  void Alert(const std::string& text);
  void OpenPrompt();
  void DrawPrompt();
  void ClosePrompt();
  void Quit(int code);
  void DeviceLost();
  bool Reopen();

  // Commands (commandrun.cpp).
  void Run(const TCommand& command);
  // The modem-line and line-setting commands (linecommands.cpp).
  void RunLineCommand(const TCommand& command);
  void SetModemLine(const TCommand& command);
  void SetLineSetting(const TCommand& command);
  void ShowLines();
  void ShowStats();
  void StartLog(const std::string& name);
  void StopLog();

  // Transfers (transfer.cpp).
  void SetUpTransfers();
  void SetUpTransfer(TvxCustomFileTransfer& transfer);
  // Makes the component of Protocol the one that runs (the line's data processor), set up
  // for this transfer; the component.
  TvxCustomFileTransfer& Choose(TProtocol protocol);
  void StartSend(TProtocol protocol, const std::vector<std::string>& paths);
  void StartReceive(TProtocol protocol, const std::string& where, std::string firstBytes);
  void CancelTransfer();
  void FinishTransfer();

  TConsole& console_;
  TTerminalOptions options_;
  std::string wait_name_;  // the name waited for after the device went away
  TTermComm comm_;
  // Kermit stays the line's data processor in the terminal (its Send-Init starts a receive);
  // an XMODEM, YMODEM or ZMODEM transfer puts its component there until it ends.
  TvxKermit kermit_;
  TvxXModem xmodem_;
  TvxYModem ymodem_;
  TvxZModem zmodem_;
  TvxCustomFileTransfer* transfer_ = &kermit_;  // the transfer running, or the last one
  TSessionLog log_;
  bool logging_ = false;
  std::string log_name_;
  std::FILE* raw_log_ = nullptr;
  bool piped_ = false;  // standard input is no terminal
  bool echo_ = false;
  std::uint64_t received_ = 0;  // bytes from the line since the start
  std::string paced_;           // typed bytes waiting for their turn (--char-delay, --line-delay)
  QTimer pace_timer_;
  QTimer escape_timer_;  // an ESC typed at the prompt alone is the Escape key
  TMode mode_ = Terminal;
  TPromptLine prompt_;
  int prompt_rows_ = 0;
  std::size_t held_dropped_ = 0;  // bytes of line output dropped while the prompt is open
  std::string held_;              // line output while the prompt is open
  std::string partial_line_;      // the console's last line, to redraw after the prompt
  bool at_line_start_ = true;
  TDisplay display_;
  vxkermit::TSendInitDetector detector_;
  // A ZMODEM sender starting or receiver waiting; it sees the bytes before detector_ does.
  TZHeaderDetector zdetector_{{vxzmodem::ZRQINIT, vxzmodem::ZRINIT}};
  QElapsedTimer zrinit_clock_;  // since the far end's last ZRINIT, while it repeats them
  QTimer release_timer_;        // shows bytes the detectors held when nothing decides them
  // Just after a transfer the peer's last packets (a repeated acknowledgement) are no
  // text for the console: packets (SOH to CR) arriving before this time are dropped.
  QElapsedTimer after_transfer_;
  TFarEndText far_end_;  ///< what the far end printed during the transfer
  bool in_late_packet_ = false;
  // The last bytes the terminal showed and when: a Send-Init among them that came less than
  // half a minute before a receive command is taken at once, not at the sender's next try.
  std::string recent_;
  QElapsedTimer recent_clock_;
  TLineSplitter splitter_;
  TProgressLine progress_;
  TReconnector reconnector_;
  bool closing_ = false;       // our own close: not a device gone
  bool quit_aborted_ = false;  // the quit ended a running transfer
  bool lost_ = false;
  std::string lost_text_;  // the device's loss with its reason, until DeviceLost tells it
  // The transfer running.
  bool sending_ = false;
  bool started_ = false;
  bool finish_queued_ = false;
  TvxSessionResult result_;  // the account of the transfer's session, once it ended
  bool ended_ = false;       // the session ended (result_ holds its account)
  int refused_ = 0;          // names of the send command that name no file
  std::string cancelled_;    // why the transfer ended before its session began
  std::string fatal_;
  int exit_code_ = 0;
};
