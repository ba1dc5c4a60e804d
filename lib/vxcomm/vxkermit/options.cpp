#include "vxcomm/vxkermit/options.h"

#include <algorithm>

namespace vxcomm {

TvxKermitOptions TvxKermitOptions::Extended() {
  TvxKermitOptions o;
  o.crc = crc16bit;
  o.adaptive_timeout = true;
  o.long_packets = true;
  o.repeat_counts = true;
  o.exact_length = true;
  o.file_dates = true;
  o.control_prefixing = cpfPeerAware;
  o.recovery = true;
  o.window_size = vxkermit::kMaxWindow;
  o.describe_system = true;
  o.text_conversion = true;
  o.name_conversion = true;
  o.refuse_server_commands = true;
  o.check_lengths = true;
  o.skip_unreadable_files = true;
  return o;
}

TvxKermitOptions TvxKermitOptions::WithProtocolOf(const TvxKermitOptions& preset) const {
  TvxKermitOptions o = preset;
  o.eighth_bit_prefix = eighth_bit_prefix;
  o.streaming = streaming;
  o.file_type = file_type;
  o.text_conversion = text_conversion;
  o.name_conversion = name_conversion;
  o.refuse_server_commands = refuse_server_commands;
  o.check_lengths = check_lengths;
  o.skip_unreadable_files = skip_unreadable_files;
  return o;
}

TvxKermitOptions TvxKermitOptions::Clamped() const {
  TvxKermitOptions o = *this;
  o.max_long_packet_length =
      std::clamp(o.max_long_packet_length, 95, static_cast<int>(vxkermit::kMaxLongPacketLength));
  o.window_size = std::clamp(o.window_size, 1, vxkermit::kMaxWindow);
  return o;
}

}  // namespace vxcomm
