#include "support/kermitlink.h"
#include "support/ptypair.h"

#include <algorithm>

#include <QPointer>
#include <QTimer>

KermitLink::KermitLink(TvxKermit* a, TvxKermit* b)
    : a_(a), b_(b), alive_(std::make_shared<bool>(true)) {
  Hook(a, b, true);
  Hook(b, a, false);
}

KermitLink::~KermitLink() {
  *alive_ = false;
  if (a_) a_->OnDataSend = nullptr;
  if (b_) b_->OnDataSend = nullptr;
}

void KermitLink::Hook(TvxKermit* from, TvxKermit* to, bool aToB) {
  QPointer<TvxKermit> target(to);
  std::weak_ptr<bool> alive = alive_;
  from->OnDataSend = [this, target, alive, aToB](TObject*, const void* data, Cardinal len, bool,
                                                 bool& handled) {
    handled = true;
    std::string block(static_cast<const char*>(data), len);
    (aToB ? sentByA : sentByB).push_back(block);
    if (filter) block = filter(aToB, block);
    if (block.empty()) return;
    // Delivered from the event loop, never inside the sender's own call.
    QTimer::singleShot(0, target.data(), [target, alive, block] {
      if (!alive.lock() || !target) return;
      target->DataReceived(block.data(), static_cast<Cardinal>(block.size()));
    });
  };
}

std::vector<std::string> KermitLink::Packets(const std::string& block) {
  std::vector<std::string> packets;
  std::size_t at = 0;
  while (at < block.size()) {
    const std::size_t next = block.find('\x01', at + 1);
    packets.push_back(block.substr(at, next == std::string::npos ? next : next - at));
    at = next == std::string::npos ? block.size() : next;
  }
  return packets;
}

std::string KermitLink::Types(const std::vector<std::string>& blocks) {
  std::string types;
  for (const auto& b : blocks)
    for (const auto& p : Packets(b))
      if (p.size() > 3) types += p[3];
  return types;
}

std::size_t KermitLink::Count(const std::vector<std::string>& blocks, char type) {
  const std::string types = Types(blocks);
  return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
}

bool KermitLink::WaitForSessionEnd(int timeoutMs) const {
  return WaitUntil(
      [this] {
        return !sentByA.empty() && (!a_ || a_->State() == fsListen) &&
               (!b_ || b_->State() == fsListen);
      },
      timeoutMs);
}

bool ReportedReceived(const TvxTestLog& log, const std::string& dir, const std::string& name) {
  return log.Has("vxKermit: EOF [Z] Packet. Close File:  " + dir + "/" + name) ||
         log.Has("vxKermit: EOF [Z] Packet. Close File:  " + dir + name);
}
