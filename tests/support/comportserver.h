// A scripted RFC 2217 server for tests: listens on a loopback port (IPv4 or IPv6), takes one
// client, agrees to com port control, answers each com port command with its value (or with
// the value a test set for it, or not at all) and keeps what the client sent: the data with
// its doubled 0xFF undone, and the commands in order. The test sends whatever it likes back
// (notifications, suspend, resume, data) with Send.
//
// Thread: the server's own thread reads and answers; the rest from any thread (mutex_; the
// writes on the connection under send_mutex_).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class ComPortServer {
 public:
  // Listens on 127.0.0.1, or ::1 with Ipv6, on a port the system picks.
  explicit ComPortServer(bool ipv6 = false);
  ~ComPortServer();
  ComPortServer(const ComPortServer&) = delete;
  ComPortServer& operator=(const ComPortServer&) = delete;

  int Port() const { return port_; }
  // Answers the client's Command with Value from now on, whatever the client asked.
  void SetAnswer(std::uint8_t command, const std::string& value);
  // Leaves the client's Command unanswered from now on.
  void SetSilent(std::uint8_t command);
  // Sends Raw to the client as it is (Telnet form); false when there is no client.
  bool Send(const std::string& raw);
  // Sends the com port command Command (a server number, 101..) with Value.
  bool SendComPort(std::uint8_t command, const std::string& value);

  // The client's data so far (Telnet undone).
  std::string Data();
  // The client's com port commands so far: (command, value) in the order they came.
  std::vector<std::pair<std::uint8_t, std::string>> Commands();
  // The values of the client's commands numbered Command, in order.
  std::vector<std::string> Values(std::uint8_t command);
  // Inside a WaitFor condition (the server's lock held): Data and Commands.
  const std::string& DataLocked() const { return data_; }
  const std::vector<std::pair<std::uint8_t, std::string>>& CommandsLocked() const {
    return commands_;
  }
  // Waits until Done (called under the server's lock) holds, or TimeoutMs passed.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs);
  // True once a client connected.
  bool Connected();

 private:
  void Run();
  void Take(const char* bytes, std::size_t count);

  int listener_ = -1;
  int client_ = -1;  // set by the server thread under mutex_
  int stop_fd_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::mutex send_mutex_;  // one writer at a time on client_ (taken inside mutex_, never around it)
  std::condition_variable changed_;
  std::string data_;
  std::vector<std::pair<std::uint8_t, std::string>> commands_;
  std::map<std::uint8_t, std::string> answers_;
  std::set<std::uint8_t> silent_;
  // The parser's state (server thread).
  enum class State { Data, Iac, Option, Sub, SubIac } state_ = State::Data;
  std::string sub_;
  std::thread thread_;
};
