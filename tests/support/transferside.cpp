#include "support/transferside.h"

#include <gtest/gtest.h>

#include <iostream>

#include "support/serialfixture.h"

void TransferSide::Attach(TvxCustomFileTransfer& protocol, const std::string& device,
                          int portNumber) {
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(portNumber, device)));
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.SetDataProcessor(&protocol);
  protocol.SetActive(true);
  protocol.SetLog(&log);
  protocol.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                 bool& raise) {
    raise = false;
    fatal.push_back(msg);
  };
  protocol.OnFileResult = [this](TObject*, const TvxFileResult& result) {
    files.push_back(result);
  };
  protocol.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    last = result;
    ++sessions;
  };
  comm.SetActive(true);
}

void TransferSide::Detach(TvxCustomFileTransfer& protocol) {
  comm.SetActive(false);
  protocol.OnFatalError = nullptr;
  protocol.OnFileResult = nullptr;
  protocol.OnSessionEnd = nullptr;
}

TransferSide::~TransferSide() {
  if (!::testing::Test::HasFailure()) return;
  const auto entries = log.Entries();
  const std::size_t from = entries.size() > 40 ? entries.size() - 40 : 0;
  for (std::size_t i = from; i < entries.size(); ++i) std::cerr << "  log: " << entries[i] << "\n";
}

std::vector<std::string> TransferSide::Complete() const {
  std::vector<std::string> names;
  for (const TvxFileResult& f : files)
    if (f.outcome == foComplete) names.push_back(f.name);
  return names;
}
