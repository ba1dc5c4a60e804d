// Two linked pseudo-terminals made by socat: bytes written to one end arrive at the other,
// both ends raw, each with a stable path (a symbolic link in a private directory).
#pragma once

#include <string>

#include "support/childprocess.h"

class SocatPair {
 public:
  // Starts socat and waits until both links exist; throws std::runtime_error otherwise.
  SocatPair();
  // The same with the links Dir/A and Dir/B: a pair made again in Dir gets the same names,
  // as an adapter plugged back in does.
  explicit SocatPair(const std::string& dir);
  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;

  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }

 private:
  ChildProcess socat_;  // ended (SIGTERM) when the pair goes
  std::string a_, b_;
};
