#include <gtest/gtest.h>

#include <iostream>

#include "support/xmodemside.h"

#include "support/serialfixture.h"

XModemSide::XModemSide(const std::string& device, int portNumber) {
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(portNumber, device)));
  comm.SetBaudRate(115200);
  comm.SetStreamProtocol(spNone);
  comm.SetDataProcessor(&xmodem);
  xmodem.SetActive(true);
  xmodem.SetLog(&log);
  xmodem.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    fatal.push_back(msg);
  };
  xmodem.OnFileResult = [this](TObject*, const TvxFileResult& result) { file = result; };
  xmodem.OnSessionEnd = [this](TObject*, const TvxSessionResult& result) {
    last = result;
    ++sessions;
  };
  comm.SetActive(true);
}

XModemSide::~XModemSide() {
  comm.SetActive(false);
  if (!::testing::Test::HasFailure()) return;
  const auto entries = log.Entries();
  const std::size_t from = entries.size() > 40 ? entries.size() - 40 : 0;
  for (std::size_t i = from; i < entries.size(); ++i) std::cerr << "  log: " << entries[i] << "\n";
}

::testing::AssertionResult SentUpToPadding(const std::string& sent, const std::string& received,
                                           std::size_t block) {
  if (received.size() < sent.size() || received.compare(0, sent.size(), sent) != 0)
    return ::testing::AssertionFailure()
           << "the received " << received.size() << " bytes do not start with the " << sent.size()
           << " sent";
  const std::size_t pad = received.size() - sent.size();
  if (pad >= block || received.size() % 128 != 0)
    return ::testing::AssertionFailure() << pad << " bytes of padding after " << sent.size();
  if (received.find_first_not_of('\x1a', sent.size()) != std::string::npos)
    return ::testing::AssertionFailure() << "padding that is not SUB";
  return ::testing::AssertionSuccess();
}
