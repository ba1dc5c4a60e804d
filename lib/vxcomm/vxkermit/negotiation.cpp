// The Send-Init exchange in TvxKermit: what this side offers, and the session run on what
// both sides agreed (the agreement itself is vxkermit::AgreeOnAnswer / AgreeOnSendInit).
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/agreement.h"
#include "vxcomm/vxkermit/datamode.h"

namespace vxcomm {

using namespace vxkermit;

TvxKermitOptions TvxKermit::OwnTerms(bool sending) const {
  TvxKermitOptions terms = options_;
  // A resend needs recovery whatever the options say.
  terms.recovery = options_.recovery || (sending && resend_);
  return terms;
}

void TvxKermit::ApplyAgreement(const TAgreement& agreed) {
  init_params_ = agreed.params;
  check_index_ = agreed.check_index;
  run_.qbin = agreed.qbin;
  run_.rept = agreed.rept;
  run_.send_long = agreed.send_long;
  run_.recv_long = agreed.recv_long;
  record_.stream = agreed.stream;
  record_.peer_like = agreed.peer_like;
  record_.recovery_agreed = agreed.recovery;
  record_.attributes = agreed.attributes;
  if (record_.stream) LogMsg(dlDetail, "Streaming: the peer declared the link reliable.");
  AgreeWindow(agreed.window);
  data_mode_ = MakeDataMode(*this, record_.window, record_.stream);
}

}  // namespace vxcomm
