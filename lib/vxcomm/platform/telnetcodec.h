// The Telnet side of an rfc2217:// port: the byte stream with its commands taken out and
// 0xFF doubled, the option negotiation a com port client makes (binary both ways, suppress
// go-ahead, com port control), and the com port commands with the server's answers.
//
// Thread: one object is used by one thread at a time (the owner locks around it).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace vxcomm {

namespace telnet {
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Com port commands of the client; the server answers with the same number plus 100.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7,
                       kFlowControlSuspend = 8, kFlowControlResume = 9, kSetLineStateMask = 10,
                       kSetModemStateMask = 11, kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;
// The longest subnegotiation kept: a com port one is a few bytes; a longer one is dropped.
constexpr std::size_t kMaxSubnegotiation = 64;
}  // namespace telnet

// Data with every 0xFF doubled, as Telnet carries it.
std::string vxTelnetEscape(const std::string& data);
// IAC SB COM-PORT-OPTION Command Value IAC SE, the value escaped.
std::string vxComPortCommand(std::uint8_t command, const std::string& value);
// The four-byte network-order value of a SET-BAUDRATE.
std::string vxBaudRateValue(std::uint32_t baud);

// What the server's NOTIFY-LINESTATE and NOTIFY-MODEMSTATE told since the last look.
struct TvxComPortNotice {
  bool fresh = false;             // a notification came
  std::uint8_t line = 0;          // the line state bits of every notification, or-ed
  std::uint8_t modem = 0;         // the modem state of the last one (0x80 CD .. 0x10 CTS)
  std::uint8_t modem_change = 0;  // the lines that changed: 8 CD, 4 RI trailing edge, 2 DSR, 1 CTS
};

// Takes the received stream apart (see the file description).
class TvxTelnetDecoder {
 public:
  // What the client offers at the start: WILL and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD,
  // WILL COM-PORT-OPTION.
  std::string Greeting();
  // Takes Bytes: the data goes to Data, the answers the negotiation needs to Replies.
  void Feed(const char* bytes, std::size_t count, std::string& data, std::string& replies);
  // True once the server said DO COM-PORT-OPTION; Refused once it said DONT.
  bool ComPortAgreed() const { return com_port_agreed_; }
  bool ComPortRefused() const { return com_port_refused_; }
  // The server's answers by com port command (the client's number): the last value of each.
  const std::map<std::uint8_t, std::string>& Answers() const { return answers_; }
  // How many answers came, by com port command.
  const std::map<std::uint8_t, unsigned>& AnswerCounts() const { return answer_counts_; }
  // True between the server's FLOWCONTROL-SUSPEND and its FLOWCONTROL-RESUME.
  bool Suspended() const { return suspended_; }
  // The notifications since the last call, and starts afresh.
  TvxComPortNotice TakeNotice();
  // The bytes held for a subnegotiation not yet ended (at most kMaxSubnegotiation).
  std::size_t HeldBytes() const { return sub_.size(); }

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies);
  void Hold(std::uint8_t b);
  void EndSub();

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::string sub_;
  bool sub_overlong_ = false;     // the subnegotiation outgrew kMaxSubnegotiation: dropped at SE
  std::array<bool, 256> will_{};  // options we said WILL to (and the server agreed or may)
  std::array<bool, 256> do_{};    // options we said DO to
  bool com_port_agreed_ = false;
  bool com_port_refused_ = false;
  std::map<std::uint8_t, std::string> answers_;
  std::map<std::uint8_t, unsigned> answer_counts_;
  bool suspended_ = false;
  std::uint8_t modem_ = 0;  // the last modem state the server told
  TvxComPortNotice notice_;
};

}  // namespace vxcomm
