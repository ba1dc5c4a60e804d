// The control block mapped onto the kernel's termios2 and back, as pure functions: no
// terminal is touched here, so the mapping is tested without one. Exported for our programs
// (the bridge reads a pseudo-terminal's line with them).
//
// termios2 comes from the kernel's own header, not glibc's <termios.h>: only termios2 with
// BOTHER sets an arbitrary speed, and the two headers cannot be included together. A file
// that includes this one therefore must not include <termios.h>.
#pragma once

#include <asm/termbits.h>

#include "vxcomm/platform/serialtypes.h"
#include "vxcomm/vxcomm_export.h"

namespace vxcomm {

// Sets the line fields of Tio (speed, framing, parity, flow control, flow characters, raw
// mode) from Dcb and keeps the rest of Tio. A standard speed is set by its constant (B115200),
// any other with BOTHER. Returns 0, or EINVAL for a block no line can
// run (speed 0, fewer than 5 or more than 8 data bits, parity above 4, stop bits above 2),
// leaving Tio as it was.
VXCOMM_EXPORT int vxTermiosFromDcb(const TDCB& dcb, struct termios2& tio);

// The control block as Tio runs the line. The fields termios has no place for (the flag
// word, the limits, the characters but Xon/Xoff) come from Held; so does one and a half
// stop bits, which termios only knows as "more than one".
VXCOMM_EXPORT TDCB vxDcbFromTermios(const struct termios2& tio, const TDCB& held);

// A raw 8N1 line at 9600 baud, the state of a port before the component applies its own.
VXCOMM_EXPORT void vxMakeRawTermios(struct termios2& tio);

// What the control fields of a block ask of the DTR and RTS lines.
struct TvxLineControl {
  bool dtr = false;        // DTR raised (enabled or handshake)
  bool rts = false;        // RTS raised (enabled or handshake); false for toggling
  bool rtsToggle = false;  // RTS raised only while sending (RS-485)
};
TvxLineControl vxLineControlOf(const TDCB& dcb);

}  // namespace vxcomm
