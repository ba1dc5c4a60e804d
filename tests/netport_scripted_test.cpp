// rfc2217:// ports against a scripted server (support/comportserver.h), for what ser2net on a
// pseudo-terminal cannot show: the server's modem and line state notifications reach the
// application as the events and line errors a serial port raises them with, and as the modem
// lines; our output that the server suspended is held, not lost, and flows once it resumes;
// DTR, RTS, break, purges, flow control and the notification masks go out as their commands;
// a server that answers other line settings than asked is refused; IPv6 works as IPv4.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/comportserver.h"
#include "support/ptypair.h"
#include "support/receivedbytes.h"

#include "vxcomm/platform/serialnet.h"
#include "vxcomm/platform/telnetcodec.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

namespace {

using namespace vxcomm::telnet;

// The component with its device in reach (break has no method of its own).
class NetComm : public TvxComm {
 public:
  using TvxComm::Device;
};

std::string Byte(int value) {
  return std::string(1, static_cast<char>(value));
}

class ScriptedPort : public ::testing::Test {
 protected:
  void TearDown() override { comm_.Close(); }

  void Open(TTraceStates states, TStreamProtocol protocol = spNone, bool ipv6 = false) {
    comm_.SetStreamProtocol(protocol);
    comm_.SetTraceStates(states);
    comm_.OnTraceState = [this](TObject*, TTraceStates s) {
      std::lock_guard lock(mutex_);
      traces_ |= s.ToBits();
    };
    comm_.OnCommError = [this](TObject*, Cardinal code, Cardinal, TComStateFlags, bool&) {
      std::lock_guard lock(mutex_);
      errors_ |= code;
    };
    comm_.OnAfterReceive = [this](TObject*, const void* data, Cardinal len) {
      received_.Add(data, len);
    };
    const std::string host = ipv6 ? "[::1]" : "127.0.0.1";
    comm_.SetDeviceName("rfc2217://" + host + ":" + std::to_string(server_->Port()));
    std::string why;
    ASSERT_TRUE(comm_.TryOpen(&why)) << why;
  }

  // The trace states and line errors raised since the last call.
  std::uint32_t TakeTraces() {
    std::lock_guard lock(mutex_);
    return std::exchange(traces_, 0);
  }
  Cardinal TakeErrors() {
    std::lock_guard lock(mutex_);
    return std::exchange(errors_, 0);
  }
  // Waits until the trace states raised include all of Want; returns those raised.
  std::uint32_t WaitTraces(TTraceStates want) {
    std::uint32_t seen = 0;
    WaitUntil(
        [&] {
          seen |= TakeTraces();
          return (seen & want.ToBits()) == want.ToBits();
        },
        5000);
    return seen;
  }
  // Waits until the server has Count commands numbered Command.
  bool WaitCommands(std::uint8_t command, std::size_t count) {
    return server_->WaitFor(
        [&] {
          std::size_t n = 0;
          for (const auto& [c, v] : server_->CommandsLocked())
            if (c == command) ++n;
          return n >= count;
        },
        5000);
  }

  std::unique_ptr<ComPortServer> server_ = std::make_unique<ComPortServer>();
  NetComm comm_;
  std::mutex mutex_;  // guards traces_ and errors_ (the delivering thread sets them)
  std::uint32_t traces_ = 0;
  Cardinal errors_ = 0;
  Bytes received_;
};

TEST_F(ScriptedPort, ModemStateNotificationsRaiseTheirEventsAndShowAsTheModemLines) {
  Open({tsCTS, tsDSR, tsRLSD, tsRing});
  // Every modem line is asked for; no line errors, since none are watched.
  ASSERT_TRUE(WaitCommands(kSetModemStateMask, 1));
  EXPECT_EQ(server_->Values(kSetModemStateMask).back(), Byte(0xff));
  EXPECT_EQ(server_->Values(kSetLineStateMask).back(), Byte(0));
  const struct {
    int state;
    TTraceStates events;
    TModemSignals lines;
  } table[] = {
      {0x10 | 0x01, {tsCTS}, {msCTS}},                                // CTS on, with its delta bit
      {0x10 | 0x20 | 0x02, {tsDSR}, {msCTS, msDSR}},                  // DSR on
      {0x10 | 0x20 | 0x80 | 0x08, {tsRLSD}, {msCTS, msDSR, msRLSD}},  // carrier on
      {0x20 | 0x80, {tsCTS}, {msDSR, msRLSD}},                        // CTS off, no delta bit sent
      {0x40 | 0x20 | 0x80, {tsRing}, {msRing, msDSR, msRLSD}},        // ring on
      {0x20 | 0x80 | 0x04, {tsRing}, {msDSR, msRLSD}},                // ring's trailing edge
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.state);
    ASSERT_TRUE(server_->SendComPort(kServerOffset + kNotifyModemState, Byte(row.state)));
    const std::uint32_t seen = WaitTraces(row.events);
    EXPECT_EQ(seen & row.events.ToBits(), row.events.ToBits());
    EXPECT_EQ(comm_.ModemSignals().ToBits(), row.lines.ToBits());
  }
}

TEST_F(ScriptedPort, LineStateNotificationsRaiseLineErrorsAndLoseNoData) {
  // As on a serial port, a line error or a break comes as OnCommError with its CE_ bits.
  Open({tsErr, tsBreak});
  ASSERT_TRUE(WaitCommands(kSetLineStateMask, 1));
  EXPECT_EQ(server_->Values(kSetLineStateMask).back(), Byte(0x1e));
  const struct {
    int state;
    Cardinal errors;
  } table[] = {
      {0x08, CE_FRAME},
      {0x04, CE_RXPARITY},
      {0x02, CE_OVERRUN},
      {0x10, CE_BREAK},
      {0x08 | 0x04, CE_FRAME | CE_RXPARITY},
  };
  std::string sent;
  for (const auto& row : table) {
    SCOPED_TRACE(row.state);
    // Data around the notification; data ready and the transmit register bits say nothing
    // wrong and are left out.
    const std::string before = "<" + std::to_string(row.state), after = ">";
    sent += before + after;
    ASSERT_TRUE(server_->Send(before + "\xff\xfa\x2c" + Byte(kServerOffset + kNotifyLineState) +
                              Byte(row.state | 0x60 | 0x01) + "\xff\xf0" + after));
    Cardinal errors = 0;
    WaitUntil(
        [&] {
          errors |= TakeErrors();
          return (errors & row.errors) == row.errors;
        },
        5000);
    EXPECT_EQ(errors, row.errors);
    EXPECT_TRUE(WaitUntil([&] { return received_.Text() == sent; }, 5000));
  }
  EXPECT_EQ(received_.Text(), sent);
}

TEST_F(ScriptedPort, SuspendedOutputIsHeldNotLostAndFlowsAfterResume) {
  Open({tsCTS});
  comm_.SendString("before ");
  ASSERT_TRUE(server_->WaitFor([&] { return server_->DataLocked() == "before "; }, 5000));
  // The modem notification behind the suspend tells the test when the relay has read it.
  server_->SendComPort(kServerOffset + kFlowControlSuspend, "");
  server_->SendComPort(kServerOffset + kNotifyModemState, Byte(0x10 | 0x01));
  WaitTraces({tsCTS});
  std::string held;
  for (int i = 0; i < 200; ++i) held += "held line " + std::to_string(i) + "\n";
  comm_.SendData(held.data(), static_cast<Cardinal>(held.size()));
  // Nothing of it may reach the server while suspended.
  EXPECT_FALSE(server_->WaitFor([&] { return server_->DataLocked().size() > 7; }, 500));
  EXPECT_EQ(server_->Data(), "before ");
  server_->SendComPort(kServerOffset + kFlowControlResume, "");
  EXPECT_TRUE(
      server_->WaitFor([&] { return server_->DataLocked().size() >= 7 + held.size(); }, 10000));
  EXPECT_EQ(server_->Data(), "before " + held);
}

TEST_F(ScriptedPort, DtrRtsAndBreakGoOutAsSetControl) {
  Open({});
  comm_.SetDTR(true);
  comm_.SetDTR(false);
  comm_.SetRTS(true);
  comm_.SetRTS(false);
  EXPECT_FALSE(comm_.Device()->Escape(SETBREAK));
  EXPECT_FALSE(comm_.Device()->Escape(CLRBREAK));
  std::vector<std::string> values = server_->Values(kSetControl);
  ASSERT_GE(values.size(), 6u);
  values.erase(values.begin(), values.end() - 6);  // the open's flow control and lines first
  EXPECT_EQ(values,
            (std::vector<std::string>{Byte(8), Byte(9), Byte(11), Byte(12), Byte(5), Byte(6)}));
}

TEST_F(ScriptedPort, FlowControlGoesOutWithTheLineSettings) {
  const struct {
    TStreamProtocol protocol;
    int value;
  } table[] = {{spNone, 1}, {spXonXoff, 2}, {spHardware, 3}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.value);
    server_ = std::make_unique<ComPortServer>();
    Open({}, row.protocol);
    ASSERT_FALSE(server_->Values(kSetControl).empty());
    EXPECT_EQ(server_->Values(kSetControl).front(), Byte(row.value));
    EXPECT_EQ(server_->Values(kSetBaudRate).front(), vxBaudRateValue(comm_.BaudRate()));
    comm_.Close();
  }
}

TEST_F(ScriptedPort, AServerThatAnswersOtherSettingsRefusesThem) {
  Open({});
  TDCB dcb;
  ASSERT_FALSE(comm_.Device()->GetState(dcb));
  dcb.Flags |= dcbflag::OutX | dcbflag::InX;
  server_->SetAnswer(kSetControl, Byte(1));  // the server keeps no flow control
  const TvxSerialError error = comm_.Device()->SetState(dcb);
  EXPECT_EQ(error.code, EINVAL) << error.text;
  std::cout << "refused: " << error.text << "\n";
}

TEST_F(ScriptedPort, PurgesGoOutAsPurgeDataAndAnUnansweredOneTimesOut) {
  Open({});
  comm_.PurgeIn();
  comm_.PurgeOut();
  comm_.PurgeAll();
  std::vector<std::string> values = server_->Values(kPurgeData);
  ASSERT_GE(values.size(), 3u);
  values.erase(values.begin(), values.end() - 3);
  EXPECT_EQ(values, (std::vector<std::string>{Byte(1), Byte(2), Byte(3)}));
  server_->SetSilent(kPurgeData);
  EXPECT_EQ(comm_.Device()->Purge(PURGE_RXCLEAR).code, ETIMEDOUT);
}

TEST_F(ScriptedPort, Ipv6CarriesDataBothWays) {
  server_ = std::make_unique<ComPortServer>(true);
  Open({}, spNone, true);
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  comm_.SendData(all.data(), static_cast<Cardinal>(all.size()));
  EXPECT_TRUE(server_->WaitFor([&] { return server_->DataLocked().size() >= 256; }, 5000));
  EXPECT_EQ(server_->Data(), all);
  server_->Send(vxTelnetEscape(all));
  EXPECT_TRUE(WaitUntil([&] { return received_.Text().size() >= 256; }, 5000));
  EXPECT_EQ(received_.Text(), all);
}

// Input nobody reads fills the pseudo-terminal and the device's queue: what we send must
// still go out.
TEST_F(ScriptedPort, UnreadInputDoesNotHoldBackOurOutput) {
  TvxSerialOpen open = vxOpenNetDevice("rfc2217://127.0.0.1:" + std::to_string(server_->Port()));
  ASSERT_TRUE(open.device) << open.error.text;
  ASSERT_TRUE(WaitUntil([&] { return server_->Connected(); }, 5000));
  // More than the socket buffers, the pseudo-terminal and the queue take: the sending ends
  // when the port closes.
  std::thread flood([&] { server_->Send(std::string(16 * 1024 * 1024, 'i')); });
  TCOMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutConstant = 5000;
  open.device->SetTimeouts(timeouts);
  const std::string out = "out";
  const TvxSerialError error = open.device->Write(out.data(), 3, true);
  EXPECT_FALSE(error) << error.text;
  EXPECT_TRUE(server_->WaitFor([&] { return server_->DataLocked() == out; }, 5000))
      << server_->Data();
  open.device->Close();
  flood.join();
}

// A server may speak first (a banner, what a board printed before we connected). A port
// opens empty of what its line held from before, never of what its server sends once
// connected: the terminal end is open before the relay hands it anything.
TEST(RawServer, WhatTheServerSendsOnAcceptingIsDelivered) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string banner = "board ready\r\n=> ";
  std::thread server([&] {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    (void)!::send(client, banner.data(), banner.size(), MSG_NOSIGNAL);
    char byte;
    while (::recv(client, &byte, 1, 0) > 0) {
    }  // until our side closes
    ::close(client);
  });
  Bytes received;
  TvxComm comm;
  comm.OnAfterReceive = [&](TObject*, const void* data, Cardinal len) { received.Add(data, len); };
  comm.SetDeviceName("tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  std::string why;
  EXPECT_TRUE(comm.TryOpen(&why)) << why;
  EXPECT_TRUE(WaitUntil([&] { return received.Text().size() >= banner.size(); }, 5000));
  EXPECT_EQ(received.Text(), banner);
  comm.Close();
  ::shutdown(listener, SHUT_RDWR);
  server.join();
  ::close(listener);
}

}  // namespace
