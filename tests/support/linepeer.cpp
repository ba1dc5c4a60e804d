#include "support/linepeer.h"

#include <gtest/gtest.h>

#include "support/ptypair.h"

void StartLinePeer(QProcess& peer, const std::string& command, const std::string& device,
                   const std::string& dir) {
  peer.setWorkingDirectory(QString::fromStdString(dir));
  peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  peer.start("sh", {"-c", QString::fromStdString("exec timeout 60 " + command + " <'" + device +
                                                 "' >'" + device + "'")});
  ASSERT_TRUE(peer.waitForStarted(5000));
}

bool LinePeerExited(QProcess& peer) {
  return WaitUntil([&] { return peer.state() == QProcess::NotRunning; }, 70000);
}
