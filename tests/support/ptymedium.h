// A small I/O component over a pseudo-terminal for tests of the I/O frame: it reads on
// the base's worker thread and writes straight to the descriptor.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxclasses.h"

class TvxPtyMedium : public TvxBaseIO {
  Q_OBJECT

 public:
  explicit TvxPtyMedium(QObject* owner = nullptr);
  ~TvxPtyMedium() override;

  void SetDevicePath(const std::string& path) { path_ = path; }
  int OpenCount() const { return open_count_; }

  THandle OpenHandle() override;
  void ThreadExecute(TvxThreadIO* thread) override;
  void SendChar(char ch) override;
  void SendString(const std::string& s) override;
  void SendData(const void* buffer, Cardinal len) override;
  void PurgeIn() override;
  void PurgeOut() override;
  void PurgeAll() override;

  std::string sent;  // every byte sent, main thread only

 private:
  std::string path_;
  int open_count_ = 0;
  std::array<char, 4096> buffer_{};  // worker thread; handed to the main thread by DeliverData
};
