/// @file
/// The property types of the serial component: trace states, modem signals, status flags,
/// line framing and the port selector, with a small set type over an enumeration.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "vxcomm/vxclasses/types.h"

namespace vxcomm {

/// A set of enumeration values, bit n standing for the value with ordinal n.
template <typename E, typename Bits>
class TvxSet {
 public:
  /// The empty set.
  constexpr TvxSet() = default;
  /// The set of Items.
  constexpr TvxSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  /// The set stored as Bits.
  static constexpr TvxSet FromBits(Bits bits) {
    TvxSet s;
    s.bits_ = bits;
    return s;
  }
  /// The set as its bits.
  constexpr Bits ToBits() const { return bits_; }
  /// True when E is in the set.
  constexpr bool Contains(E e) const { return bits_ & Bit(e); }
  /// True when the set holds nothing.
  constexpr bool Empty() const { return bits_ == 0; }
  /// Adds E; the set itself.
  constexpr TvxSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  /// Takes E away; the set itself.
  constexpr TvxSet& Exclude(E e) {
    bits_ &= static_cast<Bits>(~Bit(e));
    return *this;
  }
  /// The union of A and B.
  friend constexpr TvxSet operator+(TvxSet a, TvxSet b) { return FromBits(a.bits_ | b.bits_); }
  /// A without the members of B.
  friend constexpr TvxSet operator-(TvxSet a, TvxSet b) { return FromBits(a.bits_ & ~b.bits_); }
  /// Sets are equal when they hold the same members.
  friend constexpr bool operator==(TvxSet a, TvxSet b) = default;

 private:
  static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits(1) << static_cast<unsigned>(e)); }
  Bits bits_ = 0;
};

/// A port event or line change the serial component can report (TraceStates, OnTraceState).
enum TTraceState : std::uint8_t {
  tsRxChar,    ///< bytes were received
  tsRxFlag,    ///< the event character was received
  tsTxEmpty,   ///< the transmit queue ran empty
  tsCTS,       ///< CTS changed
  tsDSR,       ///< DSR changed
  tsRLSD,      ///< the carrier (RLSD) changed
  tsBreak,     ///< a break was received
  tsErr,       ///< a line error occurred
  tsRing,      ///< the ring line came on
  tsRx80Full,  ///< input queue 80% full; never reported by this serial layer
  tsEvent1,    ///< device-specific event 1; never reported by this serial layer
  tsEvent2     ///< device-specific event 2; never reported by this serial layer
};
/// A set of trace states.
using TTraceStates = TvxSet<TTraceState, std::uint16_t>;

/// A modem input line.
enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
/// A set of modem input lines that are on.
using TModemSignals = TvxSet<TModemSignal, std::uint8_t>;

/// The hold flags of the port status (its low seven bits).
enum TComStateFlag : std::uint8_t {
  fCtlHold,
  fDsrHold,
  fRlsHold,
  fXoffHold,
  fXOffSent,
  fEof,
  fTxim
};
/// A set of hold flags.
using TComStateFlags = TvxSet<TComStateFlag, std::uint8_t>;

/// Parity: none, odd, even, mark or space.
enum TParity : std::uint8_t { pNone, pOdd, pEven, pMark, pSpace };
/// Stop bits: one, one and a half, or two.
enum TStopBits : std::uint8_t { sbOne, sbOneAndHalf, sbTwo };
/// Flow control: none, XON/XOFF (software) or RTS/CTS (hardware).
enum TStreamProtocol : std::uint8_t { spNone, spXonXoff, spHardware };
/// The port selector: COM1 to COM8, or cpCOMxx for any other number.
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

/// (Com): the transmit queue has run empty.
using TOnSent = std::function<void(TObject* com)>;
/// (Com, Event): port events and line changes.
using TOnTraceEvent = std::function<void(TObject* com, TTraceStates event)>;
/// (Com, CommCode, SysError, State, flFlashBuffers): a line error (CommCode = CE_* flags,
/// SysError 0) or a failed write (CommCode 0, SysError = the system error code). Setting
/// flFlashBuffers purges both queues.
using TOnCommErrorEvent = std::function<void(TObject* com, Cardinal commCode, Cardinal sysError,
                                             TComStateFlags state, bool& flFlashBuffers)>;

}  // namespace vxcomm
