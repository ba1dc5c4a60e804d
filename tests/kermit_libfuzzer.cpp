// A libFuzzer target for the Kermit receiver, built only with clang and
// -DVXKERMIT_LIBFUZZER=ON: each input is a byte stream fed to a component that has
// accepted a Send-Init, as from a line.
#include <QCoreApplication>
#include <QDir>
#include <cstdint>
#include <memory>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"

namespace {

TvxKermit* Receiver() {
  static int argc = 1;
  static char name[] = "kermit_libfuzzer";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  static std::unique_ptr<TvxKermit> k = [] {
    auto r = std::make_unique<TvxKermit>();
    const QString dir = QDir::tempPath() + "/kermit-libfuzzer-in";
    QDir().mkpath(dir);
    r->SetActive(true);
    r->SetDefaultPath(dir.toStdString());
    r->SetErrorLimit(1 << 30);
    r->OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    r->OnDataSend = [](TObject*, const void*, Cardinal, bool, bool& handled) { handled = true; };
    return r;
  }();
  return k.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TvxKermit* k = Receiver();
  if (k->State() == fsListen) {
    const std::string init = "~% @-#Y3 (";
    std::uint8_t buf[vxkermit::kPacketImageSize];
    const std::size_t n = vxkermit::FramePacket(
        buf, 'S', 0, reinterpret_cast<const std::uint8_t*>(init.data()), init.size(), 0);
    k->DataReceived(buf, static_cast<Cardinal>(n));
  }
  k->DataReceived(data, static_cast<Cardinal>(size));
  return 0;
}
