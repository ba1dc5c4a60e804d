// How vxkermit and vxterm judge a transfer once its session ended: one rule for both. A
// transfer succeeds only when every file listed (names refused before the session included)
// crossed complete and the session reached its end.
//
// Thread: plain functions of values.
#pragma once

#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase/transferresult.h"

struct TTransferVerdict {
  bool ok = false;
  // Success: "N files sent" (or received). Failure: why, as "transfer failed: ..." ends.
  std::string text;
  // The files counted: "N files listed: A sent complete, B skipped, C failed"; the three add
  // up to the listed ones.
  std::string counts;
};

// The verdict on Result, with Refused names that could not be sent (already reported) among
// the files listed.
TTransferVerdict JudgeTransfer(const TvxSessionResult& result, int refused = 0);
