// A log sink for tests: keeps every admitted entry in memory.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxclasses.h"

class TvxTestLog : public TvxCustomLogFile {
  Q_OBJECT

 public:
  using TvxCustomLogFile::TvxCustomLogFile;
  ~TvxTestLog() override { Destroying(); }

  TDetailLevel detailLevel = dlDebug;

  void SaveToFile() override {}
  void ClearLog() override {
    std::lock_guard l(mutex_);
    entries_.clear();
  }
  void AddEntry(const std::string& s) override {
    std::lock_guard l(mutex_);
    entries_.push_back(s);
  }
  void AddHeader() override { AddEntry("<header>"); }
  void AddEntryAt(TDetailLevel level, const std::string& s) override {
    if (level <= detailLevel) AddEntry(s);
  }
  void AddFormatted(const std::string& fmt, const TVarRecs& args) override {
    AddEntry(Format(fmt, args));
  }
  void AddFormattedAt(TDetailLevel level, const std::string& fmt, const TVarRecs& args) override {
    if (level <= detailLevel) AddFormatted(fmt, args);
  }

  std::vector<std::string> Entries() const {
    std::lock_guard l(mutex_);
    return entries_;
  }
  bool Has(const std::string& entry) const {
    std::lock_guard l(mutex_);
    for (const auto& e : entries_)
      if (e == entry) return true;
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};
