#include "support/fedkermit.h"

FedKermit::FedKermit(const std::string& dir) {
  k.SetActive(true);
  k.SetDefaultPath(dir);
  k.SetLog(&log);
  k.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
    raise = false;
  };
  k.OnDataSend = [this](TObject*, const void* d, Cardinal n, bool, bool& handled) {
    handled = true;
    replies.emplace_back(static_cast<const char*>(d), n);
  };
}

void FedKermit::Feed(const std::string& bytes) {
  k.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
}
