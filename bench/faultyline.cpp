// faultyline: a faulty serial line for scripts. Makes the two ends of a FaultyLine
// (tests/support/faultyline.h) reachable at two paths, as symbolic links, and relays
// between them until SIGINT or SIGTERM; then prints what each direction carried and
// suffered on standard error and removes the links.
//
//   faultyline [--flip R] [--drop R] [--duplicate R] [--seed N]
//              [--baud B [--latency-us U]] LINK_A LINK_B
//
// Rates are per byte, in both directions. With --baud the line carries 8N1 bytes at that
// rate, and each end gets what arrives the way a USB serial adapter hands it over: full USB
// packets at once, the rest when its latency timer fires (U microseconds, 16000 by default). The
// seed defaults to VXCOMM_FAULT_SEED or a random one; it is printed either way. Exit status: 0
// after a signal, 1 when the relay failed, 2 for a usage error.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/faultyline.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr,
               "faultyline: %s\nusage: faultyline [--flip R] [--drop R] [--duplicate R] "
               "[--seed N] [--baud B [--latency-us U]] LINK_A LINK_B\n",
               why);
  return 2;
}

bool ParseRate(const char* text, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0 && v <= 1)) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  FaultRates rates;
  std::uint64_t seed = 0;
  bool seeded = false;
  long baud = 0;
  long latencyUs = 16000;
  std::string links[2];
  int nlinks = 0;
  auto number = [](const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out > 0;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--flip" || arg == "--drop" || arg == "--duplicate") {
      double* target = arg == "--flip"   ? &rates.flip
                       : arg == "--drop" ? &rates.drop
                                         : &rates.duplicate;
      if (!hasValue || !ParseRate(argv[++i], *target)) return Usage("a rate is a number in [0, 1]");
    } else if (arg == "--seed") {
      char* end = nullptr;
      if (!hasValue) return Usage("--seed needs a number");
      seed = std::strtoull(argv[++i], &end, 0);
      if (end == argv[i] || *end != '\0') return Usage("--seed needs a number");
      seeded = true;
    } else if (arg == "--baud") {
      if (!hasValue || !number(argv[++i], baud)) return Usage("--baud needs a positive number");
    } else if (arg == "--latency-us") {
      if (!hasValue || !number(argv[++i], latencyUs))
        return Usage("--latency-us needs a positive number");
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (nlinks < 2) {
      links[nlinks++] = arg;
    } else {
      return Usage("two link paths only");
    }
  }
  if (nlinks != 2) return Usage("two link paths are needed");

  // Blocked before the relay thread starts, so only sigwait below sees them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  try {
    const LinePacing pacing =
        baud > 0 ? LinePacing::Adapter(static_cast<int>(baud), std::chrono::microseconds(latencyUs))
                 : LinePacing{};
    FaultyLine line(rates, pacing, seeded ? seed : FaultyLine::SeedFromEnvironment());
    const std::string ends[2] = {line.A(), line.B()};
    for (int i = 0; i < 2; ++i) {
      ::unlink(links[i].c_str());
      if (::symlink(ends[i].c_str(), links[i].c_str()) != 0) {
        std::fprintf(stderr, "faultyline: cannot link %s: %s\n", links[i].c_str(),
                     std::strerror(errno));
        if (i == 1) ::unlink(links[0].c_str());
        return 1;
      }
    }
    int sig = 0;
    sigwait(&stop, &sig);
    line.Stop();
    ::unlink(links[0].c_str());
    ::unlink(links[1].c_str());
    std::fprintf(stderr, "faultyline: %s\n", line.Describe().c_str());
    if (!line.Error().empty()) {
      std::fprintf(stderr, "%s\n", line.Error().c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
