// The progress of a transfer on standard error, as users of transfer tools expect: the file,
// bytes done and total, the rate, the time left and the errors seen. On a terminal one line
// is rewritten in place, at most ten times a second; otherwise a plain line is written every
// few seconds and when a file ends, so that a log stays short and readable.
//
// Thread: the program's main thread.
#pragma once

#include <QElapsedTimer>
#include <cstdint>
#include <cstdio>
#include <string>

// One line of progress: "NAME  DONE of TOTAL  PCT%  RATE/s  M:SS left  N errors  retry R". A
// total below 0 or below Done is unknown (no percentage, no time left); Seconds is the time
// since the file began; Retrying counts the failures in a row of the packet now outstanding
// (0 shows nothing), so a stalled transfer shows why it stalls.
std::string FormatProgress(const std::string& name, std::int64_t done, std::int64_t total,
                           double seconds, int errors, int retrying = 0);

class TProgressLine {
 public:
  TProgressLine(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  // A file begins; the line shows the last part of Path.
  void Start(const std::string& path);
  // Bytes done of Total in this file, errors in the session and failures in a row of the
  // current packet; written when due. Call it at each error too, so a stall shows.
  void Update(std::int64_t done, std::int64_t total, int errors, int retrying = 0);
  // The file ended: its last line, finished, with what the last update said was done (a
  // file is closed, its position gone, by the time its end is told).
  void Finish(std::int64_t total, int errors);
  // Something else is about to be written: a line being rewritten is ended first.
  void Break();

 private:
  void Write(std::int64_t done, std::int64_t total, int errors, int retrying, bool last);

  std::FILE* out_;
  bool terminal_;
  std::string name_;
  std::int64_t done_ = 0;
  QElapsedTimer file_clock_;
  QElapsedTimer shown_;
  std::size_t shown_width_ = 0;
  bool open_ = false;
};
