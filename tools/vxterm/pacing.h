// How typed or pasted bytes are paced onto a line that cannot take them at full speed
// (--char-delay, --line-delay): the queue is sent in chunks with a pause after each.
//
// Pure: no I/O, any thread.
#pragma once

#include <string>

struct TPacing {
  int charMs = 0;  // pause after every byte
  int lineMs = 0;  // pause after a line end (CR or LF), instead of charMs
  bool Paced() const { return charMs > 0 || lineMs > 0; }
};

// The next chunk of Queued to send and the pause after it: one byte when bytes are paced,
// else everything up to and including the next line end.
struct TPacedChunk {
  std::size_t length = 0;
  int pauseMs = 0;
};
TPacedChunk NextPacedChunk(const std::string& queued, const TPacing& pacing);
