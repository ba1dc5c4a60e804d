/// @file
/// The records and constants of the serial layer. The control block (28 bytes), the port
/// configuration (52 bytes) and the time-out record (20 bytes) keep the byte layout of the
/// records they stand for, because the configuration store saves them as they are.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <bit>
#include <cstdint>

namespace vxcomm {

static_assert(std::endian::native == std::endian::little, "the stored records are little-endian");

#pragma pack(push, 1)
/// The control block: the line settings of a port (speed, framing, flow control, special
/// characters), 28 bytes.
struct VXCOMM_EXPORT TDCB {
  std::uint32_t DCBlength = 28;
  std::uint32_t BaudRate = 9600;
  std::uint32_t Flags = 0x1011;  ///< binary, DTR enabled, RTS enabled
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 2048;
  std::uint16_t XoffLim = 2048;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;    ///< 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  ///< 0 one, 1 one and a half, 2 two
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};

/// The port configuration: the control block with its provider fields, 52 bytes.
struct VXCOMM_EXPORT TCOMMCONFIG {
  std::uint32_t dwSize = 52;
  std::uint16_t wVersion = 1;
  std::uint16_t wReserved = 0;
  TDCB dcb;
  std::uint32_t dwProviderSubType = 1;  ///< a serial port
  std::uint32_t dwProviderOffset = 0;
  std::uint32_t dwProviderSize = 0;
  std::uint16_t wcProviderData[2] = {0, 0};
};

/// The time-out record of a port, in ms, 20 bytes: a read may take Count x the read
/// multiplier plus the read constant, a write Len x the write multiplier plus the write
/// constant (0 for both: no bound), and the read interval bounds the gap between two bytes
/// (see ReadBudget).
struct VXCOMM_EXPORT TCOMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
#pragma pack(pop)

static_assert(sizeof(TDCB) == 28);
static_assert(sizeof(TCOMMCONFIG) == 52);
static_assert(sizeof(TCOMMTIMEOUTS) == 20);

/// The rule every device applies to a read of Count bytes: an all-ones interval with no
/// totals returns at once with what is there; otherwise the totals give a bound in
/// milliseconds, 0 meaning none.
struct VXCOMM_EXPORT TReadBudget {
  bool immediate;         ///< return at once with what is there
  std::uint64_t totalMs;  ///< the bound of the read in ms; 0: none
};
/// The budget of a read of Count bytes under the time-outs T.
inline TReadBudget ReadBudget(const TCOMMTIMEOUTS& t, std::uint32_t count) {
  return {t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutMultiplier == 0 &&
              t.ReadTotalTimeoutConstant == 0,
          std::uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant};
}

/// The port status: hold flags (the low seven bits of Flags) and the queue counts.
struct VXCOMM_EXPORT TCOMSTAT {
  std::uint32_t Flags = 0;
  std::uint32_t cbInQue = 0;   ///< bytes queued for reading
  std::uint32_t cbOutQue = 0;  ///< bytes queued for writing
};

/// Flag bits of the control block.
namespace dcbflag {
inline constexpr std::uint32_t Binary = 0x0001;
inline constexpr std::uint32_t Parity = 0x0002;
inline constexpr std::uint32_t OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DtrControlMask = 0x0030;
inline constexpr std::uint32_t DtrEnable = 0x0010;
inline constexpr std::uint32_t DtrHandshake = 0x0020;
inline constexpr std::uint32_t DsrSensitivity = 0x0040;
inline constexpr std::uint32_t TxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t OutX = 0x0100;
inline constexpr std::uint32_t InX = 0x0200;
inline constexpr std::uint32_t ErrorChar = 0x0400;
inline constexpr std::uint32_t Null = 0x0800;
inline constexpr std::uint32_t RtsControlMask = 0x3000;
inline constexpr std::uint32_t RtsEnable = 0x1000;
inline constexpr std::uint32_t RtsHandshake = 0x2000;
inline constexpr std::uint32_t RtsToggle = 0x3000;
inline constexpr std::uint32_t AbortOnError = 0x4000;
}  // namespace dcbflag

/// @name Port events of the event mask
/// @{
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_EVENT1 = 0x0800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;
/// @}

/// @name Line-error flags returned by the error-and-status query
/// @{
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;
inline constexpr std::uint32_t CE_TXFULL = 0x0100;
/// @}

/// @name Modem status bits
/// @{
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;
/// @}

/// @name Purge flags
/// @{
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;
/// @}

/// @name Line functions
/// @{
inline constexpr int SETRTS = 3;
inline constexpr int CLRRTS = 4;
inline constexpr int SETDTR = 5;
inline constexpr int CLRDTR = 6;
inline constexpr int SETBREAK = 8;
inline constexpr int CLRBREAK = 9;
/// @}

/// The descriptors a caller waits on for a port's events (see TvxSerialDevice).
struct VXCOMM_EXPORT TvxEventFds {
  int input = -1;  ///< readable with received bytes; -1 where the device has none
  int wake = -1;   ///< readable with anything else
};

}  // namespace vxcomm
