// Construction of TvxXModem and the start of its sessions; the rest of the session (its
// end, abort and cancel, bytes and ticks handed to the sender or the receiver) is
// TvxBlockTransfer's.
#include "vxcomm/vxxmodem.h"

namespace vxcomm {

TvxXModem::TvxXModem(QObject* owner) : TvxBlockTransfer(owner, "XMODEM", "vxXModem: ") {}

TvxXModem::~TvxXModem() {
  Destroying();
}

void TvxXModem::StartSession(TStep step, bool sending) {
  step_ = step;
  send_number_ = 1;
  expected_ = 1;
  held_.clear();
  eot_seen_ = false;
  start_tries_ = 0;
  StartBlockSession(sending, sending ? 1 : 0);
}

}  // namespace vxcomm
