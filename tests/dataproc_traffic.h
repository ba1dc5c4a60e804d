// Mixed line traffic for the packet detector's random test and its benchmark: noise with
// valid packets of two kinds interleaved, and the definitions that detect them.
//
//  - announced length: SOH, a LEN byte (total length = LEN - 32 + 2), payload;
//  - markers: "<<" payload ">>".
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxdataproc.h"

namespace dataproc_traffic {

inline constexpr char kSoh = '\x01';
inline constexpr int kMarkerBufferSize = 4096;

struct Traffic {
  std::string bytes;
  std::vector<std::string> packets;  // the valid packets, in stream order
};

// Adds the two definitions to an empty collection and resets them.
inline void AddDefinitions(TvxDataProtocol& proto) {
  TvxDataPacket* counted = proto.Packets().Add();
  counted->SetCaption("Counted");
  counted->SetPacketBegin(std::string(1, kSoh));
  counted->OnPacketLength = [](TvxDataPacket* packet, std::uint8_t ch, bool& handled) {
    packet->SetPacketLength(ch - 32 + 2);
    handled = true;
  };
  TvxDataPacket* marked = proto.Packets().Add(kMarkerBufferSize);
  marked->SetCaption("Marked");
  marked->SetPacketBegin("<<");
  marked->SetPacketEnd(">>");
  proto.ResetPackets();
}

// A byte that can neither begin a packet nor appear inside one.
inline char CleanByte(std::mt19937& rng) {
  for (;;) {
    char c = static_cast<char>(rng() & 0xFF);
    if (c != kSoh && c != '<' && c != '>') return c;
  }
}

// After unrestricted noise: ends whatever a definition may have open. Each ">>" closes a
// marker packet; the run is longer than the longest counted packet (225 bytes).
inline std::string Closer() {
  std::string s;
  for (int i = 0; i < 60; ++i) s += ">>xyz";
  return s;
}

// About Size bytes. With Unrestricted the noise is any byte (markers and lengths
// included) and each valid packet follows a Closer.
inline Traffic Make(std::size_t size, bool unrestricted, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Traffic t;
  t.bytes.reserve(size + 4096);
  while (t.bytes.size() < size) {
    std::size_t noise = rng() % 600;
    for (std::size_t i = 0; i < noise; ++i)
      t.bytes += unrestricted ? static_cast<char>(rng() & 0xFF) : CleanByte(rng);
    if (unrestricted) t.bytes += Closer();
    std::string packet;
    if (rng() % 2) {
      int len = 33 + static_cast<int>(rng() % 94);  // printable LEN: 3..96 bytes in all
      packet += kSoh;
      packet += static_cast<char>(len);
      for (int i = 0; i < len - 32; ++i) packet += CleanByte(rng);
    } else {
      packet = "<<";
      std::size_t payload = rng() % 2000;
      for (std::size_t i = 0; i < payload; ++i) packet += CleanByte(rng);
      packet += ">>";
    }
    t.bytes += packet;
    t.packets.push_back(std::move(packet));
  }
  return t;
}

}  // namespace dataproc_traffic
