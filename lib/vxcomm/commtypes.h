// The property types of the serial component: trace states, modem signals, status flags,
// line framing and the port selector, with a small set type over an enumeration.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "vxclasses/types.h"

// A set of enumeration values, bit n standing for the value with ordinal n.
template <typename E, typename Bits>
class TvxSet {
 public:
  constexpr TvxSet() = default;
  constexpr TvxSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr TvxSet FromBits(Bits bits) {
    TvxSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E e) const { return bits_ & Bit(e); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TvxSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TvxSet& Exclude(E e) {
    bits_ &= static_cast<Bits>(~Bit(e));
    return *this;
  }
  friend constexpr TvxSet operator+(TvxSet a, TvxSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TvxSet operator-(TvxSet a, TvxSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr bool operator==(TvxSet a, TvxSet b) = default;

 private:
  static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits(1) << static_cast<unsigned>(e)); }
  Bits bits_ = 0;
};

enum TTraceState : std::uint8_t {
  tsRxChar,
  tsRxFlag,
  tsTxEmpty,
  tsCTS,
  tsDSR,
  tsRLSD,
  tsBreak,
  tsErr,
  tsRing,
  tsRx80Full,
  tsEvent1,
  tsEvent2
};
using TTraceStates = TvxSet<TTraceState, std::uint16_t>;

enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = TvxSet<TModemSignal, std::uint8_t>;

// The hold flags of the port status (its low seven bits).
enum TComStateFlag : std::uint8_t {
  fCtlHold,
  fDsrHold,
  fRlsHold,
  fXoffHold,
  fXOffSent,
  fEof,
  fTxim
};
using TComStateFlags = TvxSet<TComStateFlag, std::uint8_t>;

enum TParity : std::uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum TStopBits : std::uint8_t { sbOne, sbOneAndHalf, sbTwo };
enum TStreamProtocol : std::uint8_t { spNone, spXonXoff, spHardware };
enum TComPort : std::uint8_t {
  cpCOM1,
  cpCOM2,
  cpCOM3,
  cpCOM4,
  cpCOM5,
  cpCOM6,
  cpCOM7,
  cpCOM8,
  cpCOMxx
};

// (Com): the transmit queue has run empty.
using TOnSent = std::function<void(TObject* com)>;
// (Com, Event): port events and line changes.
using TOnTraceEvent = std::function<void(TObject* com, TTraceStates event)>;
// (Com, CommCode, SysError, State, flFlashBuffers): a line error (CommCode = CE_* flags,
// SysError 0) or a failed write (CommCode 0, SysError = the system error code). Setting
// flFlashBuffers purges both queues.
using TOnCommErrorEvent = std::function<void(TObject* com, Cardinal commCode, Cardinal sysError,
                                             TComStateFlags state, bool& flFlashBuffers)>;
