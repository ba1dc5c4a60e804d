#include "transferverdict.h"

namespace {

std::string Files(int n) {
  return std::to_string(n) + (n == 1 ? " file" : " files");
}

}  // namespace

TTransferVerdict JudgeTransfer(const TvxSessionResult& result, int refused) {
  TTransferVerdict v;
  const int met = result.FileCount();
  const int complete = result.Files(foComplete);
  const int skipped =
      result.Files(foSkippedByUs) + result.Files(foSkippedByPeer) + result.Files(foDiscarded);
  // Sending, the files listed that the session never reached failed with it.
  const int listed = result.sending ? result.listed + refused : met;
  const int failed = listed - complete - skipped;
  const char* done = result.sending ? " sent" : " received";
  v.ok = result.Ok() && refused == 0;
  v.counts = Files(listed) + (result.sending ? " listed: " : " begun: ") +
             std::to_string(complete) + done + " complete, " + std::to_string(skipped) +
             " skipped, " + std::to_string(failed) + " failed";
  if (v.ok) {
    v.text = Files(complete) + done;
    return v;
  }
  if (!result.failure.empty()) {
    v.text = result.failure;
    return v;
  }
  std::string why;
  const auto add = [&](int n, const std::string& what) {
    if (n == 0) return;
    why += (why.empty() ? "" : ", ") + std::to_string(n) + " of " + Files(listed) + " " + what;
  };
  add(refused, "could not be sent");
  // The unreadable ones are among the files skipped here; they are named.
  const int unreadable = static_cast<int>(result.unreadable.size());
  std::string names;
  for (const std::string& name : result.unreadable) names += (names.empty() ? "" : ", ") + name;
  add(unreadable, "could not be read and " + std::string(unreadable == 1 ? "was" : "were") +
                      " skipped (" + names + ")");
  add(result.Files(foSkippedByUs) - unreadable, "skipped");
  add(result.Files(foSkippedByPeer),
      result.sending ? "skipped by the receiver" : "skipped by the sender");
  add(result.Files(foDiscarded),
      // Receiving: discarded by the sender or refused here (the reason is told per file).
      result.sending ? "refused by the receiver" : "not kept");
  add(result.Files(foAborted) + result.Files(foFailed), "failed");
  add(listed - met - refused, result.sending ? "not sent" : "not received");
  v.text = why.empty() ? "the session did not end" : why;
  return v;
}
