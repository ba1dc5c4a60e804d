// Construction of TvxYModem and the start of its sessions; the rest of the session (its
// end, abort and cancel, bytes and ticks handed to the sender or the receiver) is
// TvxBlockTransfer's.
#include "vxcomm/vxymodem.h"

namespace vxcomm {

TvxYModem::TvxYModem(QObject* owner) : TvxBlockTransfer(owner, "YMODEM", "vxYModem: ") {}

TvxYModem::~TvxYModem() {
  Destroying();
}

void TvxYModem::StartSession(TStep step, bool sending) {
  step_ = step;
  streaming_in_use_ = !sending && streaming_;
  next_file_ = 0;
  file_done_ = false;
  StartBlockSession(sending, sending ? FileList().Count() : 0);
  reader_.SetCrc(true);
}

}  // namespace vxcomm
