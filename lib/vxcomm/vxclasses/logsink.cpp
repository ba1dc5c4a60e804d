#include "vxcomm/vxclasses/logsink.h"

namespace vxcomm {

void TvxCustomLogFile::RaiseFatalError(Cardinal errorCode, Cardinal detail,
                                       const std::string& errorMsg) {
  bool raise = true;
  if (OnFatalError) OnFatalError(this, errorCode, detail, errorMsg, raise);
  if (raise) throw Exception(errorMsg);
}

}  // namespace vxcomm
