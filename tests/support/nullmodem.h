// A virtual null-modem cable for tests: two ends registered with the serial layer under
// path-like names, each opened like a real port (vxOpenSerialPort, or a COM number mapped
// to the name).
//
// Wiring: DTR of one end is DSR and DCD of the other, RTS of one end is CTS of the other;
// a break set on one end is a break received on the other. Knobs: pacing at the sender's
// configured speed and framing, faults on the bytes of one direction (dropped, flipped,
// duplicated at a rate), injected line errors, breaks and rings, an end that vanishes,
// and a serial Plug and Play device standing in for the far end.
//
// Each end is a device of the serial layer with a wake descriptor of its own (no input
// descriptor); a thread of the cable makes it readable when paced bytes arrive.
//
// Thread: every operation is safe from any thread; the cable has one lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vxcomm/platform/serialtypes.h"
#include "vxcomm/unqualified.h"

class TvxNullModem {
 public:
  // Faults applied to the bytes sent from one end, each at its rate (0 to 1).
  struct Faults {
    double dropRate = 0;
    double flipRate = 0;       // one random bit of the byte inverted
    double duplicateRate = 0;  // the byte arrives twice
    unsigned seed = 1;
  };

  // Registers the ends under NameA and NameB; the destructor removes them. Ends still
  // open keep the cable alive and fail their calls with EIO once it is gone.
  explicit TvxNullModem(const std::string& nameA = "/virtual/nullmodem-A",
                        const std::string& nameB = "/virtual/nullmodem-B");
  ~TvxNullModem();
  TvxNullModem(const TvxNullModem&) = delete;
  TvxNullModem& operator=(const TvxNullModem&) = delete;

  // End 0 is A, end 1 is B.
  const std::string& Name(int end) const;

  // Bytes take (start + data + parity + stop bits) / speed of the sending end's line.
  void SetPacing(bool on);
  void SetFaults(int fromEnd, const Faults& faults);
  // The end receives a line error: CE_* flags for its error query, EV_ERR (EV_BREAK for
  // CE_BREAK) for its event wait.
  void InjectLineError(int end, std::uint32_t ceFlags);
  void InjectBreak(int end);
  // The end's ring indicator pulses: EV_RING, and MS_RING_ON for RingMs.
  void Ring(int end, int ringMs = 50);
  // The end goes away as an unplugged adapter would: its waits, reads and writes fail with EIO.
  void Vanish(int end);
  // Bytes that reach End as if its peer had sent them (no faults, no pacing).
  void Feed(int end, const std::string& bytes);

  // A serial Plug and Play device on the far side of End (which then cannot be opened):
  // it holds DSR up for End while End raises DTR, and after DTR and RTS were both low and
  // then came up (DTR first), sends Id to End. The bytes arrive as sent only when End runs
  // at 1200 baud 7N1; otherwise each arrives as a framing error and a wrong byte.
  void AttachPnPDevice(int end, const std::string& id);

  bool IsOpen(int end) const;
  bool Dtr(int end) const;
  bool Rts(int end) const;
  // The control block End last applied.
  TDCB State(int end) const;
  // Bytes End has sent so far (before faults), and the count of PnP answers given.
  std::string Sent(int end) const;
  int PnPAnswers() const;

  struct Cable;

 private:
  std::shared_ptr<Cable> cable_;
};
