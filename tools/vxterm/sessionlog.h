// The session log of vxterm (the log command): one entry a line, opened by the local date
// and time in ISO 8601 ("2026-12-09T14:03:07.512+01:00"), every control byte as \xNN. It is
// the log sink of the serial and Kermit components too, so their events land in it.
//
// Thread: the main thread (the port delivers its events there); the entries are written
// under a lock all the same, as a sink shared by components may be called from their threads.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxclasses.h"

class TSessionLog : public TvxCustomLogFile {
 public:
  ~TSessionLog() override;
  // Appends to Path from now on; false, with Error, when it cannot be written.
  bool Open(const std::string& path, std::string& error);
  // Stops writing; idempotent.
  void Close();
  bool IsOpen() const;
  // Called, after the log closed itself, when a write failed; with the reason.
  std::function<void(const std::string&)> onFailure;

  void AddEntry(const std::string& s) override;
  void AddEntryAt(TDetailLevel level, const std::string& s) override;
  void AddFormatted(const std::string& fmt, const TVarRecs& args) override;
  void AddFormattedAt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) override;
  // An entry of its own, without text: a component begins its part of the log.
  void AddHeader() override { AddEntry(""); }
  // Entries are written as they come; this only flushes.
  void SaveToFile() override;
  void ClearLog() override {}
  // The components' simple entries, while open.
  bool Admits(TDetailLevel level) const override;

 private:
  mutable std::mutex mutex_;  // guards file_
  std::FILE* file_ = nullptr;
};

// "2026-12-09T14:03:07.512+01:00" for now, local time.
std::string IsoTimestamp();
