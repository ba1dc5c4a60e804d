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
                       kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;
}  // namespace telnet

// Data with every 0xFF doubled, as Telnet carries it.
std::string vxTelnetEscape(const std::string& data);
// IAC SB COM-PORT-OPTION Command Value IAC SE, the value escaped.
std::string vxComPortCommand(std::uint8_t command, const std::string& value);
// The four-byte network-order value of a SET-BAUDRATE.
std::string vxBaudRateValue(std::uint32_t baud);

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

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies);
  void EndSub();

  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::string sub_;
  std::array<bool, 256> will_{};  // options we said WILL to (and the server agreed or may)
  std::array<bool, 256> do_{};    // options we said DO to
  bool com_port_agreed_ = false;
  bool com_port_refused_ = false;
  std::map<std::uint8_t, std::string> answers_;
  std::map<std::uint8_t, unsigned> answer_counts_;
};

}  // namespace vxcomm
