#include "support/kermitwire.h"

#include <cstdint>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/packet.h"

namespace kermitwire {

std::string Packet(char type, unsigned seq, const std::string& data, int checkIndex) {
  std::uint8_t buf[vxkermit::kPacketImageSize];
  const std::size_t n = vxkermit::FramePacket(buf, static_cast<std::uint8_t>(type), seq,
                                              reinterpret_cast<const std::uint8_t*>(data.data()),
                                              data.size(), checkIndex);
  return std::string(reinterpret_cast<char*>(buf), n);
}

}  // namespace kermitwire
