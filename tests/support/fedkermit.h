// One Kermit component fed by hand, as a peer's packets would reach it from a line: what it
// would send is collected instead, and its fatal errors are not raised.
#pragma once

#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

class FedKermit {
 public:
  // An active component that receives into Dir and logs into log.
  explicit FedKermit(const std::string& dir);
  FedKermit(const FedKermit&) = delete;
  FedKermit& operator=(const FedKermit&) = delete;

  // Hands Bytes to the component as received data.
  void Feed(const std::string& bytes);

  TvxKermit k;
  TvxTestLog log;
  std::vector<std::string> replies;  // every block it sent, in order
};
