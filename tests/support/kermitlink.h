// Two Kermit components wired back to back through their send hooks: what one sends
// reaches the other from the event loop, as from a line. A test may look at, change or
// drop each block on its way.
#pragma once

#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

class KermitLink {
 public:
  // (from A to B?, block): returns the block to deliver; an empty result drops it.
  using Filter = std::function<std::string(bool aToB, const std::string& block)>;

  KermitLink(TvxKermit* a, TvxKermit* b);
  ~KermitLink();
  KermitLink(const KermitLink&) = delete;
  KermitLink& operator=(const KermitLink&) = delete;

  Filter filter;
  // Every block each side sent, before the filter.
  std::vector<std::string> sentByA, sentByB;

  // The packets of one block as sent (a streaming sender sends many in one block), each from
  // its MARK; a data field never holds a bare MARK, so the split is exact.
  static std::vector<std::string> Packets(const std::string& block);
  // The type letters of the packets in Blocks, in order.
  static std::string Types(const std::vector<std::string>& blocks);
  // How many packets of Type are in Blocks.
  static std::size_t Count(const std::vector<std::string>& blocks, char type);

  // Runs the event loop until A has sent something and both sides listen again (a session
  // ran and ended); false after TimeoutMs.
  bool WaitForSessionEnd(int timeoutMs) const;

 private:
  void Hook(TvxKermit* from, TvxKermit* to, bool aToB);

  // Either may be deleted before the link (a handler that deletes its component).
  QPointer<TvxKermit> a_;
  QPointer<TvxKermit> b_;
  std::shared_ptr<bool> alive_;
};

// Whether a receiver logging at debug level into Log closed Dir/Name as received.
bool ReportedReceived(const TvxTestLog& log, const std::string& dir, const std::string& name);
