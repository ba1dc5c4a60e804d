#include "vxcomm/vxftbase/transferresult.h"

#include <numeric>

namespace vxcomm {

const char* FileOutcomeText(TvxFileOutcome outcome) {
  switch (outcome) {
    case foComplete:
      return "complete";
    case foSkippedByUs:
      return "skipped";
    case foSkippedByPeer:
      return "skipped by the peer";
    case foDiscarded:
      return "discarded";
    case foAborted:
      return "aborted";
    case foFailed:
      return "failed";
  }
  return "failed";
}

int TvxSessionResult::FileCount() const {
  return std::accumulate(files.begin(), files.end(), 0);
}

std::int64_t TvxSessionResult::TotalBytes() const {
  return std::accumulate(bytes.begin(), bytes.end(), std::int64_t{0});
}

bool TvxSessionResult::Ok() const {
  const int complete = files[foComplete];
  return ended && failure.empty() && complete == FileCount() && (!sending || complete == listed);
}

}  // namespace vxcomm
