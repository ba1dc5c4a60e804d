/// @file
/// How a transfer ended: each file's outcome with the bytes that crossed, and the whole
/// session's account. Shared by every file-transfer protocol.
///
/// Thread: plain values; the transfer's thread fills them and hands them to its events.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vxcomm {

/// How one file of a transfer ended.
enum TvxFileOutcome : std::uint8_t {
  foComplete = 0,       ///< every byte crossed and the receiving side kept the file
  foSkippedByUs = 1,    ///< this side's SkipFile ended it early
  foSkippedByPeer = 2,  ///< the peer ended it early: a receiver's skip request, or a sender
                        ///< that closed it short of the length it announced
  foDiscarded = 3,      ///< the receiving side did not keep it: the sender asked for it to be
                        ///< discarded, or the receiver refused it (its collision policy)
  foAborted = 4,        ///< the session ended while it crossed (Abort, the peer's error
                        ///< packet, the line closed)
  foFailed = 5          ///< a failure ended it: a file error, a length that differs, too
                        ///< many errors, a peer that broke the protocol
};

/// The number of outcomes, for tables indexed by TvxFileOutcome.
inline constexpr std::size_t kFileOutcomeCount = 6;

/// A word for Outcome as a user reads it: "complete", "skipped", "skipped by the peer",
/// "discarded", "aborted", "failed".
VXCOMM_EXPORT const char* FileOutcomeText(TvxFileOutcome outcome);

/// How one file ended.
struct TvxFileResult {
  std::string name;  ///< the full name it had (FileName)
  TvxFileOutcome outcome = foAborted;
  std::int64_t bytes = 0;  ///< file bytes that crossed the line for it
  std::string reason;      ///< why it did not complete; empty when complete
};

/// The account of one session, from its Send-Init to its end.
struct VXCOMM_EXPORT TvxSessionResult {
  bool sending = false;                        ///< this side sent (else received)
  bool ended = false;                          ///< the session reached its protocol end (the break)
  std::string failure;                         ///< why it ended early; empty when it ended
  int listed = 0;                              ///< sending: the files listed to send
  std::array<int, kFileOutcomeCount> files{};  ///< files per outcome
  std::array<std::int64_t, kFileOutcomeCount> bytes{};  ///< bytes that crossed per outcome
  /// Sending: the listed files passed over because they could not be opened, by full name,
  /// in list order; each is among the files skipped by this side.
  std::vector<std::string> unreadable;

  /// Files with any outcome.
  int FileCount() const;
  /// Files with Outcome.
  int Files(TvxFileOutcome outcome) const { return files[outcome]; }
  /// Every byte that crossed.
  std::int64_t TotalBytes() const;
  /// The session ended as the protocol ends one, every file it met is complete and, sending,
  /// every file listed is among them.
  bool Ok() const;
};

}  // namespace vxcomm
