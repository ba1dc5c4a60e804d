// Text files as Kermit carries them: in canonical form every line ends with CR LF; a Unix
// file ends its lines with LF alone. Plain functions over caller-owned buffers.
//
// Thread: any; nothing here keeps state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxcomm {

namespace vxkermit {

// Stores canonical text from the line as a Unix file: removes every CR from the Len bytes at
// Data, in place, and returns the bytes left. Both standard peers store text so: a CR has no
// place in a Unix text file, and one that was in the sender's file crosses as CR CR LF.
std::size_t StripCarriageReturns(std::uint8_t* data, std::size_t len);

// Puts Len bytes of a Unix text file into canonical form at Out (room for 2 * Len bytes):
// a CR before every LF, every other byte as it is. Returns the bytes written.
std::size_t ExpandLineEnds(const std::uint8_t* in, std::size_t len, std::uint8_t* out);

// The file bytes the first Used bytes of ExpandLineEnds' output stand for: Used minus the
// CRs put before the LFs among them. Used must not end between such a CR and its LF (see
// SplitsLineEnd).
std::size_t SourceLength(const std::uint8_t* expanded, std::size_t used);

// True when the first Used of Len expanded bytes end with a CR that ExpandLineEnds put
// before an LF they leave out: that CR must wait for its LF.
constexpr bool SplitsLineEnd(const std::uint8_t* expanded, std::size_t used, std::size_t len) {
  return used > 0 && used < len && expanded[used] == '\n';
}

// True when Len bytes read from the start of a file look like text: no NUL and no control
// character but TAB, LF, VT, FF, CR, BS, ESC and Ctrl-Z. Bytes with the eighth bit set count
// as text (Latin-1, UTF-8). An empty file is text.
bool LooksLikeText(const std::uint8_t* data, std::size_t len);

// How much of a file LooksLikeText looks at.
inline constexpr std::size_t kTextSniffLength = 4096;

}  // namespace vxkermit

}  // namespace vxcomm
