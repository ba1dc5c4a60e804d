// What the far end of a line printed while a transfer held it: the text between its protocol
// packets, kept so that a failed transfer can show it (a bootloader that gave up says why at
// its prompt, and its words would otherwise go unseen).
//
// Thread: the program's main thread.
#pragma once

#include <cstddef>
#include <string>

class TFarEndText {
 public:
  // Bytes received: those of a packet (from its SOH to the control character that ends it)
  // are passed over, printable text and line ends kept, the last kKeep bytes of it.
  void Feed(const char* data, std::size_t len);
  void Clear();
  // The last lines of text, each trimmed (a long one to its last 120 characters, after
  // "..."), joined by " | "; empty when the far end printed none. Other bytes are shown as
  // \xNN.
  std::string LastLines(int lines = 3) const;

  static constexpr std::size_t kKeep = 512;

 private:
  std::string text_;
  bool in_packet_ = false;
};
