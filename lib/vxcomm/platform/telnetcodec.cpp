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
          sub_ += static_cast<char>(b);
        break;
      case State::SubIac:
        if (b == kIac) {
          sub_ += static_cast<char>(b);
          state_ = State::Sub;
        } else {
          if (b == kSe) EndSub();
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

void TvxTelnetDecoder::EndSub() {
  if (sub_.size() < 2 || static_cast<std::uint8_t>(sub_[0]) != kComPort) return;
  const auto command = static_cast<std::uint8_t>(sub_[1]);
  if (command <= kServerOffset) return;
  answers_[command - kServerOffset] = sub_.substr(2);
  ++answer_counts_[command - kServerOffset];
}

}  // namespace vxcomm
