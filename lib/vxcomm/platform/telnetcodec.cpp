#include "vxcomm/platform/telnetcodec.h"

namespace vxcomm {

using namespace telnet;

namespace {
std::string Command(std::uint8_t verb, std::uint8_t option) {
  return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

bool WeOffer(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool WeAccept(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead;
}
}  // namespace

std::string vxTelnetEscape(const std::string& data) {
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    out += c;
    if (static_cast<std::uint8_t>(c) == kIac) out += c;
  }
  return out;
}

std::string vxComPortCommand(std::uint8_t command, const std::string& value) {
  std::string out{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                  static_cast<char>(command)};
  out += vxTelnetEscape(value);
  out += static_cast<char>(kIac);
  out += static_cast<char>(kSe);
  return out;
}

std::string vxBaudRateValue(std::uint32_t baud) {
  return {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
          static_cast<char>(baud >> 8), static_cast<char>(baud)};
}

std::string TvxTelnetDecoder::Greeting() {
  std::string out;
  for (std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
    out += Command(kWill, option);
    will_[option] = true;
  }
  for (std::uint8_t option : {kBinary, kSuppressGoAhead}) {
    out += Command(kDo, option);
    do_[option] = true;
  }
  return out;
}

void TvxTelnetDecoder::Feed(const char* bytes, std::size_t count, std::string& data,
                            std::string& replies) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          data += static_cast<char>(b);
        break;
      case State::Iac:
        if (b == kIac) {
          data += static_cast<char>(b);
          state_ = State::Data;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          sub_.clear();
          sub_overlong_ = false;
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, GA and the other two-byte commands carry nothing here
        }
        break;
      case State::Option:
        Negotiate(verb_, b, replies);
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac)
          state_ = State::SubIac;
        else
          Hold(b);
        break;
      case State::SubIac:
        if (b == kIac) {
          Hold(b);
          state_ = State::Sub;
        } else {
          if (b == kSe)
            EndSub();
          else
            sub_.clear();  // a subnegotiation cut short by another command is dropped
          state_ = State::Data;
        }
        break;
    }
  }
}

void TvxTelnetDecoder::Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies) {
  // A request for the state an option is already in is not answered, so that no loop starts.
  switch (verb) {
    case kDo:
      if (option == kComPort) com_port_agreed_ = true;
      if (!will_[option]) {
        will_[option] = WeOffer(option);
        replies += Command(will_[option] ? kWill : kWont, option);
      }
      break;
    case kDont:
      if (option == kComPort) com_port_refused_ = true;
      if (will_[option]) {
        will_[option] = false;
        replies += Command(kWont, option);
      }
      break;
    case kWill:
      if (!do_[option]) {
        do_[option] = WeAccept(option);
        replies += Command(do_[option] ? kDo : kDont, option);
      }
      break;
    case kWont:
      if (do_[option]) {
        do_[option] = false;
        replies += Command(kDont, option);
      }
      break;
  }
}

void TvxTelnetDecoder::Hold(std::uint8_t b) {
  if (sub_.size() < kMaxSubnegotiation)
    sub_ += static_cast<char>(b);
  else
    sub_overlong_ = true;
}

void TvxTelnetDecoder::EndSub() {
  std::string sub;
  sub.swap(sub_);
  const bool overlong = sub_overlong_;
  sub_overlong_ = false;
  if (overlong || sub.size() < 2 || static_cast<std::uint8_t>(sub[0]) != kComPort) return;
  const auto command = static_cast<std::uint8_t>(sub[1]);
  if (command <= kServerOffset) return;
  if (command == kServerOffset + kFlowControlSuspend) suspended_ = true;
  if (command == kServerOffset + kFlowControlResume) suspended_ = false;
  if (sub.size() > 2 && command == kServerOffset + kNotifyLineState) {
    notice_.fresh = true;
    notice_.line |= static_cast<std::uint8_t>(sub[2]);
  }
  if (sub.size() > 2 && command == kServerOffset + kNotifyModemState) {
    // A server may leave out the delta bits: a level that differs from the last one counts.
    const auto modem = static_cast<std::uint8_t>(sub[2]);
    notice_.fresh = true;
    notice_.modem_change |= static_cast<std::uint8_t>((modem & 0x0f) | ((modem_ ^ modem) >> 4));
    notice_.modem = modem_ = modem;
  }
  answers_[command - kServerOffset] = sub.substr(2);
  ++answer_counts_[command - kServerOffset];
}

TvxComPortNotice TvxTelnetDecoder::TakeNotice() {
  TvxComPortNotice notice = notice_;
  notice_ = {};
  notice_.modem = modem_;
  return notice;
}

}  // namespace vxcomm
