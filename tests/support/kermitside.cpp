#include "support/kermitside.h"

#include <gtest/gtest.h>

#include <iostream>

#include "support/serialfixture.h"

KermitSide::KermitSide(const std::string& device, int portNumber) {
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(portNumber, device)));
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.SetDataProcessor(&kermit);
  kermit.SetActive(true);
  kermit.SetLog(&log);
  kermit.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    fatal.push_back(msg);
  };
  comm.SetActive(true);
}

KermitSide::~KermitSide() {
  comm.SetActive(false);
  if (::testing::Test::HasFailure()) DumpLog();
}

void KermitSide::NoteFileStart() {
  if (at_first_file_.sent >= 0) return;
  at_first_file_ = {kermit.RepeatsSent(), kermit.RepeatsReceived(), kermit.TimeoutCount()};
}

void KermitSide::ExpectNoRepeats() const {
  ASSERT_GE(at_first_file_.sent, 0) << "no file started";
  EXPECT_EQ(kermit.RepeatsSent() - at_first_file_.sent, 0) << "packets we sent again";
  EXPECT_EQ(kermit.RepeatsReceived() - at_first_file_.received, 0) << "packets the peer sent again";
  EXPECT_EQ(kermit.TimeoutCount() - at_first_file_.timeouts, 0) << "time-outs";
}

bool KermitSide::HasEntry(const std::string& prefix) const {
  for (const auto& e : log.Entries())
    if (e.rfind(prefix, 0) == 0) return true;
  return false;
}

void KermitSide::DumpLog() const {
  const auto entries = log.Entries();
  int shown = 0;
  for (auto it = entries.rbegin(); it != entries.rend() && shown < 60; ++it) {
    if (it->find("DoDataSend") != std::string::npos || it->find("detected") != std::string::npos)
      continue;
    std::cerr << "  log: " << *it << "\n";
    ++shown;
  }
}
