// Finds a Kermit Send-Init packet in what the line sends to the terminal, so that a transfer
// the far end starts is taken at once (--auto-receive).
//
// A Send-Init is SOH, LEN, SEQ, 'S', its parameters and a one-character block check, LEN
// counting the bytes after it (3 to 94); one that asks for force-3 (CHKT "5") carries the
// three characters of the type 3 check instead. While bytes from a SOH on may still be such a
// packet they are held back from the console; once they cannot be, they are shown.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>

class TSendInitDetector {
 public:
  struct TResult {
    std::string show;    // bytes for the console, in order
    bool found = false;  // a whole Send-Init arrived
    std::string packet;  // then: the packet and every byte after it, for the Kermit engine
  };
  // Takes the next received bytes.
  TResult Feed(const char* data, std::size_t len);
  // The bytes held back, released (nothing more came to decide them).
  std::string Release();
  bool Holding() const { return !held_.empty(); }

 private:
  // What the held bytes are: nothing, a packet's start, a Send-Init or no packet at all.
  enum TVerdict { More, SendInit, NotOne };
  TVerdict Judge() const;

  std::string held_;
};

// The one-character block check of a packet's bytes from LEN to the last data byte.
char KermitCheck1(const std::string& bytes);

// True when Packet (SOH through the last check character) is a Send-Init that asks for
// force-3 and carries a good type 3 check.
bool IsForced3SendInit(const std::string& packet);
