// Kermit over the virtual null-modem paced at 115200 baud 8N1: the payload rate of two
// TvxKermit components through TvxComm, against the ceiling that stop-and-wait packets of
// MAXL 94 with type 3 checks allow at that speed for the same file (every byte of every
// packet and every acknowledgement on the line, nothing else).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "support/kermitfiles.h"
#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/encoding.h"

namespace {

constexpr int kBaud = 115200;
constexpr double kBitsPerByte = 10;  // start, 8 data, stop

// Line bytes of one packet with Data characters and K check characters, EOL included.
std::size_t PacketBytes(std::size_t data, int k) {
  return data + 4 + static_cast<std::size_t>(k) + 1;
}

// The bytes on the line for sending File as Name with type 3 checks and MAXL 94.
std::size_t CeilingBytes(const std::string& file, const std::string& name) {
  std::size_t total = PacketBytes(10, 1) * 2;                // S and its Y, type 1
  total += PacketBytes(name.size(), 3) + PacketBytes(0, 3);  // F, Y
  total += PacketBytes(2 + std::to_string(file.size() / 1024 + 1).size(), 3) +
           PacketBytes(0, 3);  // A, Y
  const std::size_t max = 94 - 3 - 2;
  std::size_t field = 0;
  for (unsigned char b : file) {
    const std::size_t need = vxkermit::NeedsPrefix(b, '#') ? 2 : 1;
    if (field + need > max) {
      total += PacketBytes(field, 3) + PacketBytes(0, 3);
      field = 0;
    }
    field += need;
  }
  if (field) total += PacketBytes(field, 3) + PacketBytes(0, 3);
  total += 2 * (PacketBytes(0, 3) + PacketBytes(0, 3));  // Z, Y, B, Y
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::size_t size = argc > 1 ? std::stoul(argv[1]) : 128 * 1024;
  const std::string src = MakeTempDir("nmb-src"), dst = MakeTempDir("nmb-dst");
  const std::string data = kermitfiles::RandomBytes(size, 5);
  kermitfiles::WriteAll(src + "/paced.bin", data);

  TvxNullModem modem("/virtual/kermit-bench-A", "/virtual/kermit-bench-B");
  modem.SetPacing(true);
  TvxComm commA, commB;
  TvxKermit sender, receiver;
  commA.SetComPortNo(static_cast<std::uint16_t>(MapPort(76, modem.Name(0))));
  commB.SetComPortNo(static_cast<std::uint16_t>(MapPort(77, modem.Name(1))));
  for (TvxComm* c : {&commA, &commB}) {
    c->SetBaudRate(kBaud);
    c->SetStreamProtocol(spNone);
  }
  commA.SetDataProcessor(&sender);
  commB.SetDataProcessor(&receiver);
  sender.SetActive(true);
  receiver.SetActive(true);
  receiver.SetDefaultPath(dst);
  sender.SetCrc(crc16bit);
  commA.SetActive(true);
  commB.SetActive(true);

  QElapsedTimer clock;
  clock.start();
  sender.SendFiles(src + "/paced.bin");
  WaitUntil([&] { return sender.State() == fsListen && receiver.State() == fsListen; }, 600000);
  const double seconds = clock.nsecsElapsed() / 1e9;
  const bool same = kermitfiles::ReadAll(dst + "/paced.bin") == data;

  const double ceiling = size / (CeilingBytes(data, "paced.bin") * kBitsPerByte / kBaud);
  const double rate = size / seconds;
  std::printf("Kermit over the null-modem paced at %d baud, %zu random bytes, type 3, MAXL 94\n",
              kBaud, size);
  std::printf("  stop-and-wait ceiling   %10.0f B/s\n", ceiling);
  std::printf("  ours -> ours            %10.0f B/s  ratio %.3f (target >= 0.95)%s\n", rate,
              rate / ceiling, same ? "" : "  FILE DAMAGED");
  return same ? 0 : 1;
}
