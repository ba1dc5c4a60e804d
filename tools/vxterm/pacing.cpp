#include "pacing.h"

TPacedChunk NextPacedChunk(const std::string& queued, const TPacing& pacing) {
  TPacedChunk chunk;
  if (queued.empty()) return chunk;
  if (pacing.charMs > 0) {
    chunk.length = 1;
  } else {
    const std::size_t end = queued.find_first_of("\r\n");
    chunk.length = end == std::string::npos ? queued.size() : end + 1;
  }
  const char last = queued[chunk.length - 1];
  const bool lineEnd = last == '\r' || last == '\n';
  chunk.pauseMs = lineEnd && pacing.lineMs > 0 ? pacing.lineMs : pacing.charMs;
  return chunk;
}
