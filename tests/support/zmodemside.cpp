#include "support/zmodemside.h"

#include <gtest/gtest.h>

#include <iostream>

#include "support/serialfixture.h"

ZModemSide::ZModemSide(const std::string& device, int portNumber) {
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(portNumber, device)));
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.SetDataProcessor(&zmodem);
  zmodem.SetActive(true);
  zmodem.SetLog(&log);
  zmodem.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    fatal.push_back(msg);
  };
  zmodem.OnFileResult = [this](TObject*, const TvxFileResult& result) { files.push_back(result); };
  zmodem.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    last = result;
    ++sessions;
  };
  comm.SetActive(true);
}

ZModemSide::~ZModemSide() {
  comm.SetActive(false);
  // The component outlives the members its handlers fill: a session still open when the
  // test ends tells its results to nobody.
  zmodem.OnFatalError = nullptr;
  zmodem.OnFileResult = nullptr;
  zmodem.OnSessionEnd = nullptr;
  if (!::testing::Test::HasFailure()) return;
  const auto entries = log.Entries();
  const std::size_t from = entries.size() > 40 ? entries.size() - 40 : 0;
  for (std::size_t i = from; i < entries.size(); ++i) std::cerr << "  log: " << entries[i] << "\n";
}

std::vector<std::string> ZModemSide::Complete() const {
  std::vector<std::string> names;
  for (const TvxFileResult& f : files)
    if (f.outcome == foComplete) names.push_back(f.name);
  return names;
}
