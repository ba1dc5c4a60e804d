/// @file
/// Unit vxftbase: the base of file-transfer protocols. A packet detector that owns the
/// list of files to send, the one open file, the transfer state, the error count against a
/// limit, progress reporting, and the skip and abort requests.
///
/// Thread: no lock. Every member is owned by the thread that delivers received data and
/// timer ticks to the processor chain (the main thread in the demo); application calls must
/// come from that thread too, and the events run on it. The progress bar is never touched
/// directly: range and position reach it as queued calls, run on the bar's own thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QDateTime>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

#include "vxcomm/vxdataproc.h"
#include "vxcomm/vxftbase/collision.h"
#include "vxcomm/vxftbase/filelist.h"
#include "vxcomm/vxftbase/filestream.h"
#include "vxcomm/vxftbase/transferresult.h"

namespace vxcomm {

namespace vxftbase {
class TIncomingFile;
}

/// The state of a transfer: listening (idle), sending or receiving.
enum TvxTransferState : std::uint8_t { fsListen = 0, fsSend = 1, fsReceive = 2 };

/// A file's result: how it ended and the bytes that crossed.
using TvxFileResultEvent = std::function<void(TObject* sender, const TvxFileResult& result)>;
/// A session's result: how it ended and its files and bytes per outcome.
using TvxSessionResultEvent = std::function<void(TObject* sender, const TvxSessionResult& result)>;

/// The base of file-transfer protocols: the file list, the open file, the transfer state, the error
/// and retry counts, progress and the skip and abort requests.
///
/// Thread: no lock; call it, and receive its events, on the thread that delivers received
/// data and timer ticks to the processor chain (the port's delivering thread; the main thread
/// with UseMainThread). The progress bar is updated by queued calls on its own thread.
/// Fatal errors throw Exception unless OnFatalError cancels them; one raised during a transfer
/// first aborts it.
class VXCOMM_EXPORT TvxCustomFileTransfer : public TvxDataProtocol {
  Q_OBJECT

 public:
  /// Creates an idle transfer (fsListen) owned by Owner.
  explicit TvxCustomFileTransfer(QObject* owner = nullptr);
  /// Closes any open file (OnFileEnd is called).
  ~TvxCustomFileTransfer() override;

  /// Directory for received files and for names without a directory: empty, or ending in '/'.
  const std::string& DefaultPath() const { return default_path_; }
  /// Sets DefaultPath; a '/' is added to a non-empty value without one.
  void SetDefaultPath(const std::string& value);
  /// Full name of the open file; empty when none is open. A received file is named as it is
  /// stored: under DefaultPath, by the name its sender gave or a version of it (FileCollision).
  const std::string& FileName() const { return file_name_; }

  /// What a received file does to a file of the same name in DefaultPath: fcOverwrite (the
  /// default) replaces it. Whatever the policy, a received file is written under a hidden
  /// name in DefaultPath (".NAME.vxpart") and takes its name only once complete, and one whose
  /// name is a symbolic link (to anything, or dangling), a directory or another non-regular
  /// entry there is refused: nothing outside DefaultPath is ever written.
  TvxFileCollision FileCollision() const { return collision_; }
  /// Sets FileCollision; takes effect at the next file received.
  void SetFileCollision(TvxFileCollision value) { collision_ = value; }
  /// Why the file being received, or the last one, was refused (a sentence naming the entry
  /// in the way); empty when it was taken. Cleared when the next file is opened.
  const std::string& FileRefusal() const { return file_refusal_; }

  /// Called after the progress position is posted (DoProgress).
  TNotifyEvent OnProgress;
  /// Called for every error counted within ErrorLimit (CountError).
  TNotifyEvent OnError;
  /// Called when the open file is closed; FileName still names it.
  TNotifyEvent OnFileEnd;
  /// Called when a transfer file is opened.
  TNotifyEvent OnFileStart;
  /// Called when State changes through SetState.
  TNotifyEvent OnChangeState;
  /// Called once for each file of a session when its outcome is final: at its close, or for
  /// a file sent, once the receiver acknowledged its end (or the session ended without it).
  /// A skipped, discarded, aborted or failed file is told here like a complete one.
  TvxFileResultEvent OnFileResult;
  /// Called once when a session ends, whichever way, after the result of its last file.
  TvxSessionResultEvent OnSessionEnd;

  /// The file closed last (inside OnFileEnd: the one closing) and how it ended as far as
  /// this side knows at its close; sending, a file whose data all went reads foComplete
  /// until the receiver's answer says otherwise (see OnFileResult).
  const TvxFileResult& FileResult() const { return file_result_; }
  /// The running session's account so far, or the last session's once it ended.
  const TvxSessionResult& SessionResult() const { return session_result_; }
  /// Whether a session's account is open (from its start to OnSessionEnd).
  bool SessionOpen() const { return session_open_; }

  /// Any QObject with setRange(int,int) and setValue(int) slots; not owned, forgotten when
  /// it is destroyed. Setting one posts the current range to it.
  QObject* ProgressBar() const { return progress_bar_.data(); }
  /// Sets the progress bar (not owned) and posts the current range to it.
  void SetProgressBar(QObject* value);

  /// The files to send; owned by the transfer.
  TvxFileList& FileList() { return file_list_; }
  /// The files to send.
  const TvxFileList& FileList() const { return file_list_; }
  /// The open file, owned by the transfer; null when none is open.
  TvxFileStream* FileStream() const { return file_stream_.get(); }
  /// The transfer state.
  TvxTransferState State() const { return state_; }
  /// Errors allowed per session.
  int ErrorLimit() const { return error_limit_; }
  /// Sets ErrorLimit (3 by default).
  void SetErrorLimit(int value) { error_limit_ = value; }
  /// Errors counted in this session.
  int ErrorCount() const { return error_count_; }
  /// Consecutive failures allowed for one packet (the one outstanding or expected); 0: no
  /// limit. Passing it ends the transfer with fatal error 17/8 "Too many retries.".
  int RetryLimit() const { return retry_limit_; }
  /// Sets RetryLimit (0, no limit, by default).
  void SetRetryLimit(int value) { retry_limit_ = value; }
  /// Consecutive failures counted for the current packet.
  int RetryCount() const { return retry_count_; }
  /// The consecutive failures CountRetry allows one packet in the running session:
  /// RetryLimit here. A protocol may allow more for needs of its own (the repeats a sliding
  /// window causes) without touching RetryLimit, which always reads what was set.
  virtual int SessionRetryLimit() const { return retry_limit_; }
  /// Bytes the progress range covers: the listed sizes' sum after BuildFileList, the
  /// current file's size during a transfer.
  std::int64_t TotalSize() const { return total_size_; }
  /// Size the peer announced for the file being received, within the 32-bit range (a larger
  /// one reads 2^31 - 1); TotalSize holds it whole.
  std::int64_t ReceivedSize() const { return received_size_; }
  /// The open file's position; 0 when none is open.
  std::int64_t GetFilePosition() const;

  /// Builds FileList from masks separated by ',', ';' or line breaks. Wildcards '*' and
  /// '?' apply to the file-name part; each match is listed under its mask's directory, in
  /// name order; directories are left out. A mask without a directory searches DefaultPath.
  void BuildFileList(const std::string& mask);

  /// Aborts a transfer in progress (AbortTransfer with the message), then reports as the base:
  /// Exception(ErrorMsg) unless OnFatalError cancels it.
  void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg) override;

  /// Closes the open file (OnFileEnd sees FileName) and clears FileName.
  virtual void CloseTransferFile();
  /// Returns to fsListen without OnChangeState and logs "Transfer aborted. " + Reason.
  virtual void AbortTransfer(const std::string& reason);
  /// Closes any open file and opens Name (under DefaultPath when it has no directory) with
  /// Mode; file-system failures propagate as EFileStreamError. Fires OnFileStart.
  virtual void OpenTransferFile(const std::string& name, std::uint16_t mode);
  /// Sets the open file's modification time; nothing without an open file.
  virtual void SetTransferFileDate(const QDateTime& dateTime);
  /// Posts the position to the progress bar, then fires OnProgress.
  virtual void DoProgress();
  /// Counts an error: True and OnError while within ErrorLimit, else fatal error 17/7. With
  /// AsRetry (the default) the error is a failure of the current packet as well (see
  /// CountRetry).
  virtual bool CountError(bool asRetry = true);
  /// Counts a failure of the current packet that is not an error of the session (a peer's
  /// NAK): True while within RetryLimit, else fatal error 17/8.
  bool CountRetry();
  /// Stores State and fires OnChangeState when it changes.
  virtual void SetState(TvxTransferState value);
  /// Stores TotalSize and posts the progress range.
  virtual void SetTotalSize(std::int64_t size);
  /// Aborts the transfer (AbortTransfer with no reason).
  virtual void Abort();
  /// Builds the list; fatal error 17/6 when it is empty, else logs the mask.
  virtual void SendFiles(const std::string& mask);
  /// Logs the request while a transfer runs; the protocol does the skipping.
  virtual void SkipFile(bool skipAll, bool deleteFile);

 protected:
  /// Opens the file a peer sends under Name, one entry of DefaultPath (a name with a "/" is
  /// refused), and fires OnFileStart with FileName = DefaultPath + Name. The data goes to the
  /// hidden ".Name.vxpart" in DefaultPath until StoreIncomingFile. With Resume what DefaultPath
  /// holds of it is opened as it is, to be appended to, and the result is true: the part an
  /// earlier transfer left, else a regular file Name (written in place). Throws EFCreateError
  /// with the system's reason.
  bool OpenIncomingFile(const std::string& name, bool resume);
  /// The file OpenIncomingFile opened to append to is not appended to after all: the data
  /// goes to a new, empty part, and a file Name stays as it was (a part left by an earlier
  /// transfer is replaced). No event. Throws EFCreateError.
  void RestartIncomingFile();
  /// Why the incoming file, dated SenderTime by its sender (seconds since the epoch, -1 for
  /// none), is refused under FileCollision; empty when it is taken. With Attribute set, the
  /// attribute that decided it goes there ('#' for the date; 0 for the name).
  std::string IncomingRefusal(std::int64_t senderTime, char* attribute = nullptr) const;
  /// Refuses the incoming file: logs Reason, keeps it as FileRefusal, removes the temporary
  /// file and closes it (OnFileEnd, which sees FileName and FileRefusal).
  void RefuseIncomingFile(const std::string& reason);
  /// Stores the complete incoming file under FileCollision (and gives it the time Modified
  /// when that is 0 or above), then closes it: OnFileEnd sees FileName as stored. Throws
  /// EFileStreamError with the system's reason; the file's outcome is foFailed then, whatever
  /// was set before, the file is left open, and closing it removes what was received.
  void StoreIncomingFile(std::int64_t senderTime, std::int64_t modified);
  /// Removes the incoming file (what was received of it) and closes it (OnFileEnd).
  void DiscardIncomingFile();
  /// True while the incoming file is written under its own name (recovery).
  bool IncomingInPlace() const;
  /// Whether what was received of the incoming file stays, should it not be stored (the
  /// transfer breaks), hidden as ".Name.vxpart" for a resend to finish (the default: a partly
  /// received file remains on disk, never under its name), or is removed.
  void KeepIncomingPartial(bool value);
  /// Sets ErrorCount.
  void SetErrorCount(int value) { error_count_ = value; }
  /// The current packet got through: its failures no longer count.
  void ResetRetries() { retry_count_ = 0; }
  /// Sets ReceivedSize.
  void SetReceivedSize(std::int64_t value) { received_size_ = value; }
  /// Runs Handler, the event called Name, for this component. Whatever it throws is kept
  /// from the protocol's work in hand (a packet half acted on, a file half written): the
  /// first such exception is held until ReportHandlerFailure.
  void FireEvent(const TNotifyEvent& handler, const char* name);
  /// Called by a protocol once the packet, tick or call at hand is done and its state is
  /// whole: an exception FireEvent held becomes fatal error 15/1 ("EXCEPTION in NAME
  /// handler. " and its message, NAME the event's), which ends a running session; nothing without
  /// one.
  void ReportHandlerFailure();
  /// Forgets a held exception (logged): a new session does not answer for an old handler.
  void ForgetHandlerFailure();

  /// Opens the account of a session (Sending, with Listed files); one still open with no
  /// file in it is started anew (a Send-Init sent again), one with files ends as aborted.
  void BeginSessionResult(bool sending, int listed);
  /// How the open file ends, set before it is closed; the first word stands. A file closed
  /// without one ended with its session: failed during a fatal error, else aborted.
  void SetFileOutcome(TvxFileOutcome outcome, const std::string& reason = {});
  /// The open file's end awaits the peer's word: its result is told by SettleFileResult,
  /// or as the session's end when that comes first.
  void HoldFileResult() { hold_result_ = true; }
  /// Tells the held file result (OnFileResult) with its outcome as set.
  void SettleFileResult();
  /// Sending: the listed file Name could not be opened (Reason) and is passed over. Its
  /// result is told as skipped by this side with no bytes, and the session's account
  /// names it among the unreadable files. No file event: it never opened.
  void PassOverFile(const std::string& name, const std::string& reason);
  /// Ends the session's account: Ended when it reached its protocol end, else why not
  /// (Failure). A held file result is told first, as failed or aborted unless the session
  /// ended. Fires OnSessionEnd; nothing when no account is open.
  void EndSessionResult(bool ended, const std::string& failure);
  /// The bytes of the open file that crossed the line; the protocol may leave out what was
  /// already there (a resent file's start).
  virtual std::int64_t BytesCrossed() const { return GetFilePosition(); }
  /// True while a fatal error ends the session (RaiseFatalError's abort).
  bool EndingInFailure() const { return ending_in_failure_; }

 private:
  /// The progress bar's range is an int: sizes beyond it are shifted right by this much.
  int ProgressShift() const;
  void PostProgress(const char* slot, int value) const;
  void PostRange() const;
  // Tallies FileResult into the session's account and fires OnFileResult.
  void TellFileResult();

  std::string default_path_;
  std::string file_name_;
  /// Read and cleared on the owning thread; the bar itself only through queued calls.
  QPointer<QObject> progress_bar_;
  TvxFileList file_list_;
  std::unique_ptr<TvxFileStream> file_stream_;
  /// The received file's place in DefaultPath while file_stream_ writes it; null otherwise.
  std::unique_ptr<vxftbase::TIncomingFile> incoming_;
  TvxFileCollision collision_ = fcOverwrite;
  std::string file_refusal_;
  TvxTransferState state_ = fsListen;
  int error_limit_ = 3;
  int error_count_ = 0;
  int retry_limit_ = 0;
  int retry_count_ = 0;
  std::int64_t total_size_ = 0;
  std::int64_t received_size_ = 0;
  /// The message of the first exception an event handler threw since the last report.
  std::string handler_failure_;
  bool handler_failed_ = false;
  // The accounts of the current (or last) file and session.
  TvxFileResult file_result_;
  TvxSessionResult session_result_;
  bool session_open_ = false;
  bool outcome_set_ = false;  ///< the open file's outcome was set
  bool hold_result_ = false;  ///< the open file's result awaits the peer
  bool held_ = false;         ///< a closed file's result awaits the peer
  bool ending_in_failure_ = false;
};

}  // namespace vxcomm
