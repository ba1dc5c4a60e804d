/// @file
/// The abstract log sink that every component writes to.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include "vxcomm/rtl/component.h"
#include "vxcomm/rtl/format.h"
#include "vxcomm/vxclasses/types.h"

namespace vxcomm {

/// The abstract log sink that every component writes to. Every entry operation is abstract here
/// (throws EAbstractError); the log file component implements them.
///
/// Thread: a sink may be shared by components on several threads; a descendant that allows that
/// locks its own state (the log file component does).
class VXCOMM_EXPORT TvxCustomLogFile : public TComponent {
  Q_OBJECT

 public:
  using TComponent::TComponent;
  /// Destroys the sink; the components using it drop it.
  ~TvxCustomLogFile() override { Destroying(); }

  /// Reports a failure of the sink itself; raises Exception(ErrorMsg) unless OnFatalError
  /// clears RaiseException. Writes no entry.
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg);
  /// Writes the entries kept to the sink's store.
  virtual void SaveToFile() { AbstractError(); }
  /// Drops the entries kept and the store.
  virtual void ClearLog() { AbstractError(); }
  /// Adds one entry.
  virtual void AddEntry(const std::string&) { AbstractError(); }
  /// Adds the header entry.
  virtual void AddHeader() { AbstractError(); }
  /// Adds one entry when the sink takes Level.
  virtual void AddEntryAt(TDetailLevel, const std::string&) { AbstractError(); }
  /// Adds one entry formatted from Fmt and Args (see Format).
  virtual void AddFormatted(const std::string&, const TVarRecs&) { AbstractError(); }
  /// Adds one formatted entry when the sink takes Level.
  virtual void AddFormattedAt(TDetailLevel, const std::string&, const TVarRecs&) {
    AbstractError();
  }
  /// False when an entry at Level would be dropped, so callers can skip building it.
  virtual bool Admits(TDetailLevel) const { return true; }

  /// Called by RaiseFatalError first; it may clear the raise flag.
  TOnFatalErrorEvent OnFatalError;
};

}  // namespace vxcomm
