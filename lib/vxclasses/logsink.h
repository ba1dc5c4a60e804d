// The abstract log sink that every component writes to.
#pragma once

#include "vxcomm_export.h"

#include "rtl/component.h"
#include "rtl/format.h"
#include "vxclasses/types.h"

// Thread: a sink may be shared by components on several threads; a descendant that allows
// that locks its own state (the log file component does).
class VXCOMM_EXPORT TvxCustomLogFile : public TComponent {
  Q_OBJECT

 public:
  using TComponent::TComponent;
  ~TvxCustomLogFile() override { Destroying(); }

  // Reports a failure of the sink itself; raises Exception(ErrorMsg) unless OnFatalError
  // clears RaiseException. Writes no entry.
  virtual void RaiseFatalError(Cardinal errorCode, Cardinal detail, const std::string& errorMsg);
  virtual void SaveToFile() { AbstractError(); }
  virtual void ClearLog() { AbstractError(); }
  virtual void AddEntry(const std::string&) { AbstractError(); }
  virtual void AddHeader() { AbstractError(); }
  virtual void AddEntryAt(TDetailLevel, const std::string&) { AbstractError(); }
  virtual void AddFormatted(const std::string&, const TVarRecs&) { AbstractError(); }
  virtual void AddFormattedAt(TDetailLevel, const std::string&, const TVarRecs&) {
    AbstractError();
  }
  // False when an entry at Level would be dropped, so callers can skip building it.
  virtual bool Admits(TDetailLevel) const { return true; }

  TOnFatalErrorEvent OnFatalError;
};
