// A property test of TvxKermit over generated hostile traffic, run synchronously: no event
// loop and no real timers. Blocks a component sends go through a line object that drops,
// repeats, holds back, replays, cuts and damages them; a reply time-out is one call of the
// component's timer handler, made when nothing is in flight (and now and then early).
//
// The property: every file reported received is byte-identical to the file sent, and
// every session that lost data ends with an error on the side that lost it. Three kinds of
// case, a million in all; in a share of each, long packets and repeat counts are offered
// (by both sides, one, or none), files are longer and full of runs, and the line also
// sets header bytes, long-packet lengths and header checks to any value:
//   - a sending and a receiving component through the hostile line; in a share of these the
//     sender resends, and the receiver holds a part of some files (or a longer copy);
//   - a receiving component alone, fed a mangled session stream and time-outs;
//   - a sending component alone, fed hostile answers: it may end a session without an error
//     only when each of its packets got its acknowledgement.
//
// In another share of them the sides declare the link reliable (each now and then not), so
// that the sessions stream where both do: the sender's queued bursts are run between steps.
// In a share of the first kind's cases the sides offer sliding windows (of sizes drawn for
// each side, now and then none); there the line replays packets only from as far back as
// sequence numbers modulo 64 leave unambiguous for the window (a packet that comes back
// from further is, by design, a new one).
//
// Environment: VXKERMIT_PROPERTY_SCALE scales the number of cases (default 1);
// VXKERMIT_PROPERTY_BASE_SEED sets the run's seed (default fixed, so CI is repeatable);
// VXKERMIT_PROPERTY_SEED=<case seed> replays one case with a trace of everything it did.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/sendinit.h"

using vxkermit::kDataPos;
using vxkermit::kHcheckPos;
using vxkermit::kLenPos;
using vxkermit::kLongDataPos;
using vxkermit::kMark;
using vxkermit::kSeqPos;
using vxkermit::kTypePos;
using vxkermit::ToChar;
using vxkermit::UnChar;

namespace {

// Cases per kind at scale 1.
constexpr long kLiveCases = 450000;
// The share of cases that offer long packets and repeat counts.
constexpr double kExtendedShare = 0.25;
// The share of live cases that resend, with copies already at the receiver.
constexpr double kRecoveryShare = 0.15;
// The share of live cases whose application handlers throw now and then.
constexpr double kHostileShare = 0.1;
// The share of live cases in which a file shrinks on disk while it is sent.
constexpr double kShrinkShare = 0.05;
constexpr long kReceiverStreams = 350000;
constexpr long kSenderStreams = 200000;
// Steps (deliveries and time-outs) one case may take before it counts as hung. Far above
// what a session of at most 3 files of 600 bytes needs with 10 retries per packet.
constexpr long kStepBudget = 20000;
// A run stops collecting after this many failing cases: the first ones tell the story.
constexpr int kMaxFailingCases = 60;
// Replays reach at most this many packets back: sequence numbers are modulo 64, so a
// replay from 64 back is indistinguishable from the packet expected, by design.
constexpr std::size_t kReplayWindow = 60;

const char* const kNamePool[] = {"a.bin", "b.dat", "c", "d d.txt", "e#1.x", "f~", "G.TXT", "h.y.z"};

// ---------------------------------------------------------------------------------------
// Seeds and random numbers.

std::uint64_t SplitMix(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed) {
    for (auto& s : s_) s = SplitMix(seed);
  }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  unsigned Below(unsigned n) {
    return static_cast<unsigned>(((Next() >> 32) * static_cast<std::uint64_t>(n)) >> 32);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return p > 0 && Unit() < p; }
  double LogUniform(double lo, double hi) { return lo * std::pow(hi / lo, Unit()); }
  // Items passed over before the next event of per-item probability P.
  std::size_t Gap(double p) {
    if (p <= 0) return SIZE_MAX;
    const double g = std::floor(std::log1p(-Unit()) / std::log1p(-p));
    return g > 1e9 ? SIZE_MAX : static_cast<std::size_t>(g);
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

 private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4];
};

std::uint64_t CaseSeed(std::uint64_t base, int kind, long index) {
  std::uint64_t x = base ^ (static_cast<std::uint64_t>(kind) << 56) ^
                    (static_cast<std::uint64_t>(index) * 0xD1B54A32D192ED03ull);
  return SplitMix(x);
}

std::uint64_t EnvSeed(const char* name, std::uint64_t fallback, bool* given = nullptr) {
  const char* v = std::getenv(name);
  if (given) *given = v && *v;
  return v && *v ? std::strtoull(v, nullptr, 0) : fallback;
}

// Under the address sanitizer (a Debug build in CI) a case costs over ten times as much:
// the default count is cut so that the run fits the same time-out.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kDefaultScale = 0.2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kDefaultScale = 0.2;
#else
constexpr double kDefaultScale = 1.0;
#endif
#else
constexpr double kDefaultScale = 1.0;
#endif

double Scale() {
  const char* v = std::getenv("VXKERMIT_PROPERTY_SCALE");
  const double s = v && *v ? std::atof(v) : kDefaultScale;
  return s > 0 ? s : kDefaultScale;
}

std::string Hex(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// ---------------------------------------------------------------------------------------
// The trace of a replayed case.

bool g_tracing = false;

void TraceLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void TraceLine(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Its arguments are built only while a case is replayed: a million cases run untraced.
#define TRACE(...)                         \
  do {                                     \
    if (g_tracing) TraceLine(__VA_ARGS__); \
  } while (0)

std::string Printable(const std::string& bytes, std::size_t max = 120) {
  std::string s;
  for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      s += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      s += buf;
    }
  }
  if (bytes.size() > max) s += "...(" + std::to_string(bytes.size()) + " bytes)";
  return s;
}

// "D5" for a framed packet: its type and sequence number.
std::string PacketName(const std::string& block) {
  if (block.size() <= kTypePos) return "?";
  return std::string(1, block[kTypePos]) +
         std::to_string(UnChar(static_cast<std::uint8_t>(block[kSeqPos])));
}

// ---------------------------------------------------------------------------------------
// Files, through plain system calls: the test runs a million cases.

bool ReadFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << path;
  ::close(fd);
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const auto& n : ListDir(path)) RemoveTree(path + "/" + n);
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

// A scratch directory with "in" (the receiver's) and "out" (the sender's files), on
// /dev/shm when there is one: a million sessions create and compare a few million files.
class Workspace {
 public:
  explicit Workspace(const std::string& tag) {
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
      std::string templ = "/dev/shm/vxkermit-" + tag + "-XXXXXX";
      if (::mkdtemp(templ.data())) base = templ;
    }
    if (base.empty()) base = MakeTempDir(tag);
    in = base + "/in";
    out = base + "/out";
    ::mkdir(in.c_str(), 0755);
    ::mkdir(out.c_str(), 0755);
  }
  ~Workspace() { RemoveTree(base); }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  void Clear() const {
    for (const auto& n : ListDir(in)) RemoveTree(in + "/" + n);
    for (const auto& n : ListDir(out)) RemoveTree(out + "/" + n);
  }

  std::string base, in, out;
};

// Name and content of the files a session sends, in the order they are sent.
using Sources = std::vector<std::pair<std::string, std::string>>;

Sources RandomSources(Rng& rng, unsigned minFiles) {
  const unsigned pool = sizeof kNamePool / sizeof kNamePool[0];
  std::vector<std::string> names(kNamePool, kNamePool + pool);
  Sources files;
  const unsigned count = minFiles + rng.Below(4 - minFiles);
  for (unsigned i = 0; i < count; ++i) {
    const unsigned k = rng.Below(static_cast<unsigned>(names.size()));
    std::string body(rng.Below(601), '\0');
    for (auto& c : body) c = static_cast<char>(rng.Byte());
    files.emplace_back(names[k], std::move(body));
    names.erase(names.begin() + k);
  }
  std::sort(files.begin(), files.end());  // the order the sender lists them in
  return files;
}

// ---------------------------------------------------------------------------------------
// Long packets and repeat counts. Drawn from a random stream of their own (the case seed
// with another salt), so that the cases without them run exactly as they always have.

Rng ExtensionRng(std::uint64_t seed) {
  return Rng(seed ^ 0x6C6F6E6770616B74ull);
}

struct Extension {
  bool on = false;
  bool longs[2] = {false, false};  // [sender, receiver]
  bool repeats[2] = {false, false};
  int maxLong[2] = {0, 0};

  std::string Describe() const {
    if (!on) return "";
    auto side = [&](int i) {
      return std::string(longs[i] ? "long " + std::to_string(maxLong[i]) : "no long") +
             (repeats[i] ? " rept" : " no rept");
    };
    return "; sender " + side(0) + ", receiver " + side(1);
  }
};

// In a share of the cases: each side offers long packets (of a length between the least
// and the most) and repeat counts, mostly both sides alike.
Extension DrawExtension(Rng& xr, double share) {
  Extension e;
  if (!xr.Chance(share)) return e;
  e.on = true;
  for (int i = 0; i < 2; ++i) {
    e.longs[i] = xr.Chance(0.85);
    e.repeats[i] = xr.Chance(0.85);
    e.maxLong[i] = static_cast<int>(std::lround(xr.LogUniform(95, 9024)));
  }
  return e;
}

// Recovery, drawn from a stream of its own like the extension: cases without it run as
// they always have.
struct Recovery {
  bool on = false;
  bool offered[2] = {false, false};  // [sender, receiver]
  bool exactLength = false;

  std::string Describe() const {
    if (!on) return "";
    return std::string("; resend, recovery offered by ") +
           (offered[0] ? (offered[1] ? "both" : "the sender")
                       : (offered[1] ? "the receiver" : "none")) +
           (exactLength ? ", exact length" : "");
  }
};

Recovery DrawRecovery(std::uint64_t seed) {
  Rng rr(seed ^ 0x7265636F76657279ull);
  Recovery v;
  if (!rr.Chance(kRecoveryShare)) return v;
  v.on = true;
  v.offered[0] = rr.Chance(0.5);
  v.offered[1] = rr.Chance(0.9);
  v.exactLength = rr.Chance(0.5);
  return v;
}

// Copies at the receiver before a resend: a true part of a file (its start), all of it, or
// a copy longer than it; some files have none. A copy that differs within the file's length
// is not made: recovery takes the receiver's part as the start of the file, by design.
void PlaceCopies(std::uint64_t seed, const Sources& files, const std::string& dir) {
  Rng rr(seed ^ 0x636F706965730000ull);
  for (const auto& [name, body] : files) {
    const unsigned pick = rr.Below(10);
    if (pick < 5)
      WriteFile(dir + "/" + name, body.substr(0, rr.Below(static_cast<unsigned>(body.size()) + 1)));
    else if (pick == 5)
      WriteFile(dir + "/" + name, body);
    else if (pick == 6)
      WriteFile(dir + "/" + name,
                body + std::string(1 + rr.Below(40), static_cast<char>(rr.Byte())));
  }
}

// Sliding windows, from a random stream of their own like the extension.
constexpr double kWindowShare = 0.3;

struct Windows {
  int size[2] = {1, 1};               // [sender, receiver]; 1: none offered
  bool reliable[2] = {false, false};  // the side declares the link reliable (streaming)

  bool On() const { return size[0] > 1 || size[1] > 1; }
  std::string Describe() const {
    std::string d;
    if (On()) d += "; windows " + std::to_string(size[0]) + "/" + std::to_string(size[1]);
    if (reliable[0] || reliable[1])
      d += std::string("; reliable ") + (reliable[0] ? "sender" : "") +
           (reliable[0] && reliable[1] ? "+" : "") + (reliable[1] ? "receiver" : "");
    return d;
  }
  // How many blocks back the line may replay: a packet from further back than 63 less twice
  // the window could be taken for one ahead of the window.
  std::size_t ReplayDepth() const {
    const int w = std::min(size[0], size[1]);
    if (w <= 1) return kReplayWindow;
    return static_cast<std::size_t>(std::max(2, 63 - 2 * w));
  }
};

constexpr double kStreamingShare = 0.1;

Windows DrawWindows(std::uint64_t seed, double share, double streamingShare) {
  Rng wr(seed ^ 0x77696E646F777321ull);
  Windows w;
  if (wr.Chance(share))
    for (int i = 0; i < 2; ++i) w.size[i] = wr.Chance(0.1) ? 1 : 2 + static_cast<int>(wr.Below(30));
  if (wr.Chance(streamingShare))
    for (bool& r : w.reliable) r = wr.Chance(0.85);
  return w;
}

void ApplyExtension(TvxKermit& k, const Extension& e, int side) {
  if (!e.on) return;
  k.SetLongPackets(e.longs[side]);
  k.SetRepeatCounts(e.repeats[side]);
  k.SetMaxLongPacketLength(e.maxLong[side]);
}

// Rewrites some bodies as runs of equal bytes, up to 1500 bytes, the prefix characters and
// bytes next to them often among the values.
void MakeRunny(Rng& xr, Sources& files) {
  static const std::uint8_t kTricky[] = {'~', '#', '&', 0, 0x7E | 0x80, 0x80, 0xA3, 0xFF, 13, 1};
  for (auto& f : files) {
    if (!xr.Chance(0.6)) continue;
    const std::size_t size = xr.Below(1501);
    std::string body;
    while (body.size() < size) {
      const auto run = static_cast<std::size_t>(std::lround(xr.LogUniform(1, 300)));
      const std::uint8_t b = xr.Chance(0.4) ? kTricky[xr.Below(sizeof kTricky)] : xr.Byte();
      body.append(std::min(run, size - body.size()), static_cast<char>(b));
    }
    f.second = body;
  }
}

const std::string* Find(const Sources& files, const std::string& name) {
  for (const auto& f : files)
    if (f.first == name) return &f.second;
  return nullptr;
}

std::string Difference(const std::string& got, const std::string& want) {
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return std::to_string(got.size()) + " bytes instead of " + std::to_string(want.size()) +
         ", first difference at " + std::to_string(i);
}

// ---------------------------------------------------------------------------------------
// Failures and counts.

// Category (counted) and detail (printed for the first failing cases).
struct Failure {
  std::string category;
  std::string detail;
};

struct Counts {
  long cases = 0, completed = 0, endedInError = 0, neverStarted = 0, hangs = 0;
  long failingCases = 0, rerolls = 0, steps = 0, maxSteps = 0;
  long longPackets = 0, repeatCounts = 0, recoveries = 0, windows = 0, streaming = 0;
  long hostile = 0;  ///< cases in which a handler threw
  std::map<std::string, long> byCategory;
  std::vector<std::string> reports;
};

// ---------------------------------------------------------------------------------------
// The component under test, with its aborts recorded as the command-line program does.

class Watched : public TvxKermit {
 public:
  ~Watched() override { Destroying(); }
  std::function<void(const std::string&)> onAbort;
  void AbortTransfer(const std::string& reason) override {
    if (onAbort) onAbort(reason);
    TvxKermit::AbortTransfer(reason);
  }
  // Before the end of a case: the destructor closes an open file, and that must not reach
  // the case's checks.
  void Detach() {
    onAbort = nullptr;
    OnFileEnd = nullptr;
    OnChangeState = nullptr;
    OnProgress = nullptr;
    OnError = nullptr;
    OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    OnDataSend = [](TObject*, const void*, Cardinal, bool, bool& handled) { handled = true; };
  }
};

// Follows a sending component: Sending once its session started, SendError once it failed.
void WatchSender(Watched& s, bool& sending, bool& sendError) {
  s.onAbort = [&](const std::string& reason) {
    TRACE("   sender aborts: %s", reason.c_str());
    if (sending) sendError = true;
  };
  s.OnFatalError = [&](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                       bool& raise) {
    raise = false;
    TRACE("   sender fatal error %u/%u: %s", code, detail, msg.c_str());
    sendError = true;
  };
  s.OnChangeState = [&](TObject*) {
    TRACE("   sender state %d", s.State());
    if (s.State() == fsSend) sending = true;
  };
}

// The program's settings, or now and then the component's own; the block check the side
// proposes, now and then eighth-bit prefixing and the adaptive reply time-out.
void Configure(Watched& k, Rng& rng, const std::string& dir, const char* side) {
  k.SetActive(true);
  k.SetDefaultPath(dir);
  if (rng.Chance(0.75)) {
    k.SetRetryLimit(10);
    k.SetErrorLimit(INT_MAX);
    TRACE("%s: retry limit 10, no error limit", side);
  } else {
    TRACE("%s: component defaults (error limit %d, retry limit %d)", side, k.ErrorLimit(),
          k.RetryLimit());
  }
  const unsigned c = rng.Below(20);
  k.SetCrc(c < 2 ? crc6bit : (c < 11 ? crc12bit : crc16bit));
  if (rng.Chance(0.1)) k.SetEighthBitPrefix('&');
  // Only what a damaged reply does changes here: the time-outs are this test's.
  if (rng.Chance(0.2)) k.SetAdaptiveTimeout(true);
}

bool Running(const TvxKermit& k) {
  return k.State() != fsListen;
}

// Calls the component's timer handler: a tick of its QTimer, which never runs here.
void Tick(Watched& k, const char* side, std::vector<Failure>& failures) {
  TRACE("   time-out of %s (state %d)", side, k.State());
  try {
    k.DoTimer(nullptr);
  } catch (const std::exception& e) {
    failures.push_back({"exception escaped", std::string(side) + " time-out: " + e.what()});
  } catch (...) {
    failures.push_back({"exception escaped", std::string(side) + " time-out"});
  }
}

void Deliver(Watched& k, const std::string& bytes, const char* side, Rng& rng, double split,
             std::vector<Failure>& failures) {
  try {
    std::size_t at = 0;
    while (at < bytes.size()) {
      std::size_t n = bytes.size() - at;
      if (rng.Chance(split)) n = 1 + rng.Below(static_cast<unsigned>(n));
      k.DataReceived(bytes.data() + at, static_cast<Cardinal>(n));
      at += n;
    }
  } catch (const std::exception& e) {
    failures.push_back({"exception escaped", std::string(side) + " data: " + e.what()});
  } catch (...) {
    failures.push_back({"exception escaped", std::string(side) + " data"});
  }
}

// ---------------------------------------------------------------------------------------
// The hostile line.

struct Profile {
  // Per packet sent.
  double drop = 0, duplicate = 0, hold = 0, replay = 0, garbage = 0;
  // Per packet delivered.
  double cut = 0, sohInside = 0, lenValue = 0, seqValue = 0;
  // Per packet delivered, in cases with long packets: a header byte (LEN through HCHECK)
  // takes any value; in half of these a long header then gets a matching HCHECK, so that
  // it lies about its length.
  double header = 0;
  // Per byte delivered.
  double flip = 0, loseByte = 0, addByte = 0;
  // Blocks sent, both ways, before the line goes dead; -1: never.
  long deadAfter = -1;
  // Per step: a reply time-out fires while something is still in flight.
  double earlyTick = 0;
  // Per delivery: the bytes arrive in pieces; two blocks arrive in one call.
  double split = 0, join = 0;

  std::string Describe() const {
    std::string s;
    auto add = [&](const char* name, double v) {
      if (v <= 0) return;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%s%s=%.3g", s.empty() ? "" : " ", name, v);
      s += buf;
    };
    add("drop", drop);
    add("duplicate", duplicate);
    add("hold", hold);
    add("replay", replay);
    add("garbage", garbage);
    add("cut", cut);
    add("soh", sohInside);
    add("len", lenValue);
    add("seq", seqValue);
    add("header", header);
    add("flip/byte", flip);
    add("lose/byte", loseByte);
    add("add/byte", addByte);
    add("early-timeout", earlyTick);
    add("split", split);
    add("join", join);
    if (deadAfter >= 0)
      s += (s.empty() ? "" : " ") + std::string("dead-after=") + std::to_string(deadAfter);
    return s.empty() ? "clean line" : s;
  }
};

Profile RandomProfile(Rng& rng, long blocksExpected) {
  Profile p;
  auto maybe = [&](double on, double lo, double hi) {
    return rng.Chance(on) ? rng.LogUniform(lo, hi) : 0.0;
  };
  p.split = maybe(0.3, 0.05, 0.6);
  p.join = maybe(0.3, 0.05, 0.6);
  if (rng.Chance(0.1)) return p;  // a clean line
  p.drop = maybe(0.35, 0.005, 0.25);
  p.duplicate = maybe(0.3, 0.005, 0.3);
  p.hold = maybe(0.3, 0.005, 0.3);
  p.replay = maybe(0.3, 0.005, 0.2);
  p.garbage = maybe(0.25, 0.005, 0.3);
  p.cut = maybe(0.2, 0.005, 0.15);
  p.sohInside = maybe(0.2, 0.005, 0.15);
  p.lenValue = maybe(0.2, 0.005, 0.15);
  p.seqValue = maybe(0.2, 0.005, 0.15);
  if (rng.Chance(0.5)) {
    p.flip = maybe(0.8, 1e-5, 1e-2);
    p.loseByte = maybe(0.4, 1e-5, 1e-2);
    p.addByte = maybe(0.4, 1e-5, 1e-2);
  }
  if (rng.Chance(0.15)) p.deadAfter = rng.Below(static_cast<unsigned>(blocksExpected + 1));
  p.earlyTick = maybe(0.15, 0.002, 0.05);
  return p;
}

struct Chunk {
  std::string bytes;
  bool packet = false;  // a packet as sent: the line's damage applies at delivery
  bool init = false;    // a Send-Init
  const char* how = "";
};

// Two one-way queues. A packet is dropped, held back, repeated or replayed when it is sent;
// it is cut and damaged when it is delivered, against the bytes delivered before it.
//
// A block check cannot see every damage: a damaged packet that still verifies is the line
// defeating the check, not the engine. So the line never delivers bytes in which some
// packet image (from any MARK, with any LEN, under any of the three checks) verifies
// while it differs from every packet sent that way: such damage is drawn again (a
// re-roll, counted), and an undamaged packet that would complete a damaged image gets a
// few garbage bytes in front, drawn again likewise.
class Line {
 public:
  Line(Rng& rng, const Profile& p) : rng_(rng), p_(p) {}

  void Send(int way, const std::string& block) {
    if (block.size() > kTypePos) {
      std::size_t len = static_cast<std::size_t>(UnChar(static_cast<std::uint8_t>(block[1]))) + 2;
      if (block[1] == ' ' && block.size() >= kLongDataPos) {
        const int ext =
            vxkermit::LongPacketLength(reinterpret_cast<const std::uint8_t*>(block.data()));
        if (ext >= 0) len = kLongDataPos + static_cast<std::size_t>(ext);
      }
      sent_[way].insert(block.substr(0, std::min(block.size(), len)));
    }
    auto& history = history_[way];
    history.push_back(block);
    if (history.size() > replayDepth) history.pop_front();
    if (p_.deadAfter >= 0 && blocks_ >= p_.deadAfter) {
      TRACE("   line dead: %s lost", PacketName(block).c_str());
      return;
    }
    ++blocks_;
    if (rng_.Chance(p_.garbage)) Enqueue(way, {NewGarbage(), false, false, "garbage"});
    Chunk c{block, true, block.size() > kTypePos && block[kTypePos] == 'S', "sent"};
    if (rng_.Chance(p_.drop)) {
      TRACE("   line drops %s", PacketName(block).c_str());
    } else if (rng_.Chance(p_.hold)) {
      TRACE("   line holds %s back", PacketName(block).c_str());
      c.how = "held back";
      held_[way].push_back({c, 1 + static_cast<int>(rng_.Below(3))});
    } else {
      Enqueue(way, c);
    }
    if (rng_.Chance(p_.duplicate)) {
      c.how = "duplicate";
      Enqueue(way, c);
    }
    if (rng_.Chance(p_.replay) && history.size() > 1) {
      const std::string& old = history[rng_.Below(static_cast<unsigned>(history.size() - 1))];
      Enqueue(way, {old, true, old.size() > kTypePos && old[kTypePos] == 'S', "replay"});
    }
  }

  bool Empty(int way) const { return queue_[way].empty(); }
  bool Quiet() const { return queue_[0].empty() && queue_[1].empty(); }
  bool Holding() const { return !held_[0].empty() || !held_[1].empty(); }
  void ReleaseHeld() {
    for (int way = 0; way < 2; ++way) {
      for (auto& h : held_[way]) queue_[way].push_back(h.chunk);
      held_[way].clear();
    }
  }
  Chunk Pop(int way) {
    Chunk c = std::move(queue_[way].front());
    queue_[way].pop_front();
    return c;
  }

  // The bytes that reach the other side for C; empty when none may.
  std::string Realise(int way, const Chunk& c) {
    for (int attempt = 0; attempt < 40; ++attempt) {
      std::string out;
      if (!c.packet)
        out = attempt == 0 ? c.bytes : NewGarbage();
      else
        out = attempt == 0 ? Damage(c.bytes) : Filler() + Damage(c.bytes);
      if (Admissible(way, out)) {
        Remember(way, out);
        return out;
      }
      ++rerolls;
    }
    TRACE("   line loses a %s block: no damage drawn left it checkable", c.how);
    return {};
  }

  long rerolls = 0;
  // How many blocks back a replay may reach.
  std::size_t replayDepth = kReplayWindow;

 private:
  struct Held {
    Chunk chunk;
    int after;
  };

  void Enqueue(int way, const Chunk& c) {
    queue_[way].push_back(c);
    auto& held = held_[way];
    for (std::size_t i = 0; i < held.size();) {
      if (--held[i].after == 0) {
        queue_[way].push_back(held[i].chunk);
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }

  std::string NewGarbage() {
    std::string g(1 + rng_.Below(rng_.Chance(0.2) ? 300 : 20), '\0');
    for (auto& ch : g) ch = static_cast<char>(rng_.Chance(0.05) ? kMark : rng_.Byte());
    return g;
  }

  std::string Filler() {
    std::string g(1 + rng_.Below(4), '\0');
    for (auto& ch : g) {
      do ch = static_cast<char>(rng_.Byte());
      while (ch == static_cast<char>(kMark));
    }
    return g;
  }

  std::string Damage(const std::string& packet) {
    std::string s = packet;
    if (s.size() > kLenPos && rng_.Chance(p_.lenValue)) s[kLenPos] = static_cast<char>(rng_.Byte());
    if (s.size() > kSeqPos && rng_.Chance(p_.seqValue)) s[kSeqPos] = static_cast<char>(rng_.Byte());
    if (s.size() > kHcheckPos && rng_.Chance(p_.header)) {
      s[1 + rng_.Below(kHcheckPos)] = static_cast<char>(rng_.Byte());
      if (s[kLenPos] == ' ' && rng_.Chance(0.5)) {
        s[kHcheckPos] = static_cast<char>(
            vxkermit::HeaderCheck(reinterpret_cast<const std::uint8_t*>(s.data())));
      }
    }
    if (s.size() > 1 && rng_.Chance(p_.sohInside))
      s.insert(1 + rng_.Below(static_cast<unsigned>(s.size() - 1)), 1, static_cast<char>(kMark));
    if (rng_.Chance(p_.cut)) s.resize(rng_.Below(static_cast<unsigned>(s.size())));
    for (std::size_t i = rng_.Gap(p_.flip); i < s.size(); i += 1 + rng_.Gap(p_.flip))
      s[i] = static_cast<char>(s[i] ^ (1 << rng_.Below(8)));
    if (p_.loseByte > 0 || p_.addByte > 0) {
      std::string t;
      t.reserve(s.size() + 4);
      std::size_t lose = rng_.Gap(p_.loseByte), add = rng_.Gap(p_.addByte);
      for (std::size_t i = 0; i < s.size(); ++i) {
        if (add == 0) {
          t += static_cast<char>(rng_.Byte());
          add = rng_.Gap(p_.addByte);
        } else if (add != SIZE_MAX) {
          --add;
        }
        if (lose == 0) {
          lose = rng_.Gap(p_.loseByte);
          continue;
        }
        if (lose != SIZE_MAX) --lose;
        t += s[i];
      }
      s.swap(t);
    }
    return s;
  }

  static bool Verifies(const std::string& buf, std::size_t at, std::size_t size, int checkIndex) {
    std::uint8_t image[vxkermit::kPacketImageSize] = {};
    std::memcpy(image, buf.data() + at, std::min(size, sizeof image));
    return vxkermit::VerifyBlockCheck(image, checkIndex);
  }

  // A long image from P in Buf verifies under some check while it differs from every packet
  // sent: judged once it is whole, and only when it ends in the fresh bytes.
  bool LongImageVerifies(int way, const std::string& buf, std::size_t p, std::size_t fresh) const {
    if (p + kLongDataPos > buf.size()) return false;
    const auto* at = reinterpret_cast<const std::uint8_t*>(buf.data()) + p;
    const int ext = vxkermit::LongPacketLength(at);
    if (ext < 0) return false;
    const std::size_t end = p + kLongDataPos + static_cast<std::size_t>(ext);
    if (end > buf.size() || end <= fresh) return false;
    if (sent_[way].count(buf.substr(p, end - p))) return false;
    for (int k = 0; k < 3; ++k)
      if (vxkermit::VerifyLongPacket(at, end - p, k)) return true;
    return false;
  }

  bool Admissible(int way, const std::string& out) const {
    const std::string buf = tail_[way] + out;
    const std::size_t fresh = tail_[way].size();
    for (std::size_t p = 0; p + 1 < buf.size(); ++p) {
      if (buf[p] != static_cast<char>(kMark)) continue;
      if (buf[p + 1] == ' ') {
        if (LongImageVerifies(way, buf, p, fresh)) return false;
        continue;
      }
      const int len = UnChar(static_cast<std::uint8_t>(buf[p + 1]));
      if (len < vxkermit::MinPacketLen(0)) continue;
      const std::size_t end = p + static_cast<std::size_t>(len) + 2;
      if (end > buf.size() || end <= fresh) continue;  // still open, or judged before
      if (sent_[way].count(buf.substr(p, end - p))) continue;
      for (int k = 0; k < 3; ++k)
        if (Verifies(buf, p, end - p, k)) return false;
    }
    return true;
  }

  // Keeps what a later delivery may still complete: the last classic image's worth, and
  // from the first long header whose length reaches past what arrived.
  void Remember(int way, const std::string& out) {
    std::string& t = tail_[way];
    t += out;
    if (t.size() <= vxkermit::kPacketImageSize) return;
    std::size_t cut = t.size() - vxkermit::kPacketImageSize;
    for (std::size_t p = t.find(static_cast<char>(kMark)); p < cut;
         p = t.find(static_cast<char>(kMark), p + 1)) {
      if (t[p + 1] != ' ' || p + kLongDataPos > t.size()) continue;
      const int ext =
          vxkermit::LongPacketLength(reinterpret_cast<const std::uint8_t*>(t.data()) + p);
      if (ext >= 0 && p + kLongDataPos + static_cast<std::size_t>(ext) > t.size()) {
        cut = p;
        break;
      }
    }
    t.erase(0, cut);
  }

  Rng& rng_;
  const Profile& p_;
  std::deque<Chunk> queue_[2];
  std::vector<Held> held_[2];
  std::deque<std::string> history_[2];
  std::unordered_set<std::string> sent_[2];
  std::string tail_[2];
  long blocks_ = 0;
};

// ---------------------------------------------------------------------------------------
// The receiving side's part of the property.

// Files the receiver reports (OnFileEnd while receiving) must be on disk as sent, unless
// the end-of-file packet asked for discarding; a session it ends without an error must
// have brought every file.
class ReceiverWatch {
 public:
  ReceiverWatch(Watched& r, const std::string& dir, const Sources& files,
                std::vector<Failure>& failures)
      : r_(r), dir_(dir + "/"), files_(files), failures_(failures) {
    r_.OnChangeState = [this](TObject*) {
      TRACE("   receiver state %d", r_.State());
      if (r_.State() != fsListen) Begin();
    };
    r_.OnFileEnd = [this](TObject*) { FileEnded(); };
    r_.onAbort = [this](const std::string& reason) {
      TRACE("   receiver aborts: %s", reason.c_str());
      if (running) error_ = true;
    };
    r_.OnFatalError = [this](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                             bool& raise) {
      raise = false;
      TRACE("   receiver fatal error %u/%u: %s", code, detail, msg.c_str());
      error_ = true;
    };
  }

  // After every delivery and time-out: a session that stopped is judged.
  void AfterStep() {
    if (running && r_.State() == fsListen) Finish();
  }

  // Every file reported received (and not discarded) is still as sent.
  void CheckReportedFiles() {
    for (const auto& name : reported) {
      std::string got;
      const std::string* want = Find(files_, name);
      if (want && (!ReadFile(dir_ + name, got) || got != *want))
        Fail("reported file changed later", name + ": " + Difference(got, *want));
    }
  }

  bool running = false;
  int sessions = 0, cleanEnds = 0, errorEnds = 0;
  std::set<std::string> reported;

 private:
  void Fail(const std::string& category, const std::string& detail) {
    failures_.push_back({"receiver: " + category, detail});
    TRACE("!! receiver: %s: %s", category.c_str(), detail.c_str());
  }

  void Begin() {
    if (running) Finish();
    running = true;
    error_ = false;
    reportedNow_.clear();
    ++sessions;
  }

  void Finish() {
    running = false;
    if (error_) {
      ++errorEnds;
      return;
    }
    ++cleanEnds;
    for (const auto& [name, body] : files_) {
      std::string got;
      if (!reportedNow_.count(name))
        Fail("session ended without an error but a file was never reported received", name);
      else if (!ReadFile(dir_ + name, got) || got != body)
        Fail("session ended without an error but a file differs",
             name + ": " + Difference(got, body));
    }
  }

  void FileEnded() {
    if (r_.State() != fsReceive) return;
    const std::string path = r_.FileName();
    const std::uint8_t* p = r_.RecvBuf();
    const char type = static_cast<char>(p[kTypePos]);
    const int dataLen = p[kLenPos] - 2 - (r_.CheckIndex() + 1);
    TRACE("   receiver reports %s closed by %c%d", path.c_str(), type, p[kSeqPos]);
    if (type == 'Z' && dataLen > 0 && p[kDataPos] == 'D') return;  // discarded as asked
    if (path.compare(0, dir_.size(), dir_) != 0 || path.find('/', dir_.size()) != std::string::npos)
      return Fail("file written outside the receiving directory", path);
    const std::string name = path.substr(dir_.size());
    const std::string* want = Find(files_, name);
    if (!want) return Fail("reported a file that was never sent", name);
    std::string got;
    if (!ReadFile(path, got) || got != *want)
      return Fail(std::string("reported received (on ") + type + ") but differs from the file sent",
                  name + ": " + Difference(got, *want));
    reported.insert(name);
    reportedNow_.insert(name);
  }

  Watched& r_;
  const std::string dir_;
  const Sources& files_;
  std::vector<Failure>& failures_;
  bool error_ = false;
  std::set<std::string> reportedNow_;
};

// Nothing but "in" and "out" in the workspace, nothing in "in" but names sent and the parts
// of them kept for a resend, and the files sent unchanged.
void CheckWorkspace(const Workspace& ws, const Sources& files, bool sentFromDisk,
                    std::vector<Failure>& failures) {
  const auto top = ListDir(ws.base);
  if (top != std::vector<std::string>{"in", "out"}) {
    std::string all;
    for (const auto& n : top) all += " " + n;
    failures.push_back({"written outside the receiving directory", all});
  }
  for (const auto& n : ListDir(ws.in)) {
    if (Find(files, n)) continue;
    // A broken transfer's part, kept hidden for a resend: the start of the file sent.
    const std::string suffix = ".vxpart";
    const bool part = n.size() > suffix.size() + 1 && n[0] == '.' &&
                      n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0;
    const std::string* sent =
        part ? Find(files, n.substr(1, n.size() - suffix.size() - 1)) : nullptr;
    std::string got;
    if (!sent)
      failures.push_back({"receiver created a file never sent", n});
    else if (!ReadFile(ws.in + "/" + n, got) || sent->compare(0, got.size(), got) != 0)
      failures.push_back({"a part kept for a resend is not the start of the file sent", n});
  }
  if (!sentFromDisk) return;
  for (const auto& [name, body] : files) {
    std::string got;
    if (!ReadFile(ws.out + "/" + name, got) || got != body)
      failures.push_back({"a file being sent changed", name});
  }
}

// ---------------------------------------------------------------------------------------
// Case results.

struct Outcome {
  bool completed = false;
  bool started = true;
  bool hang = false;
  // A long packet crossed; repeat counts were in force on the receiving side.
  bool usedLong = false, usedRepeat = false;
  // A resent file started past its beginning.
  bool usedRecovery = false;
  // Several D packets were in flight at once.
  bool usedWindow = false;
  // Both sides agreed to stream.
  bool usedStreaming = false;
  bool usedHostile = false;
  long steps = 0;
  std::vector<Failure> failures;
  std::string setting;
};

void Account(Counts& counts, const Outcome& o, const char* test, std::uint64_t seed, long index) {
  ++counts.cases;
  counts.steps += o.steps;
  counts.maxSteps = std::max(counts.maxSteps, o.steps);
  counts.longPackets += o.usedLong;
  counts.repeatCounts += o.usedRepeat;
  counts.recoveries += o.usedRecovery;
  counts.windows += o.usedWindow;
  counts.streaming += o.usedStreaming;
  counts.hostile += o.usedHostile;
  if (!o.started)
    ++counts.neverStarted;
  else if (o.completed)
    ++counts.completed;
  else
    ++counts.endedInError;
  if (o.hang) ++counts.hangs;
  if (o.failures.empty()) return;
  ++counts.failingCases;
  std::set<std::string> categories;
  for (const auto& f : o.failures) categories.insert(f.category);
  for (const auto& c : categories) ++counts.byCategory[c];
  std::string report =
      "case " + std::to_string(index) + " seed " + Hex(seed) + " [" + o.setting + "]\n";
  for (std::size_t i = 0; i < o.failures.size() && i < 4; ++i)
    report += "    " + o.failures[i].category + ": " + o.failures[i].detail + "\n";
  report += "    replay: VXKERMIT_PROPERTY_SEED=" + Hex(seed) +
            " ./kermit_property_test --gtest_filter=KermitProperty." + test;
  counts.reports.push_back(report);
}

// ---------------------------------------------------------------------------------------
// Kind 1: a sender and a receiver through the hostile line.

Outcome RunLiveCase(std::uint64_t seed, const Workspace& ws, long& rerolls) {
  Outcome o;
  Rng rng(seed);
  Rng xr = ExtensionRng(seed);
  const Extension ext = DrawExtension(xr, kExtendedShare);
  Sources files = RandomSources(rng, 1);
  if (ext.on) MakeRunny(xr, files);
  for (const auto& [name, body] : files) WriteFile(ws.out + "/" + name, body);
  const Recovery recovery = DrawRecovery(seed);
  if (recovery.on) PlaceCopies(seed, files, ws.in);

  // Hostile application handlers, drawn from a stream of their own: in a share of cases
  // OnProgress and OnError of both sides throw now and then (a standard exception or an int).
  Rng hr(seed ^ 0x686F7374696C6521ull);
  const bool hostile = hr.Chance(kHostileShare);
  long thrown = 0;
  const TNotifyEvent thrower = [&hr, &thrown](TObject*) {
    if (!hr.Chance(0.02)) return;
    ++thrown;
    TRACE("   a handler throws");
    if (hr.Chance(0.5)) throw std::runtime_error("hostile handler");
    throw 42;
  };

  Watched s, r;
  Configure(s, rng, ws.out, "sender");
  Configure(r, rng, ws.in, "receiver");
  if (hostile) {
    for (Watched* k : {&s, &r}) {
      k->OnProgress = thrower;
      k->OnError = thrower;
    }
  }
  ApplyExtension(s, ext, 0);
  ApplyExtension(r, ext, 1);
  s.SetRecovery(recovery.offered[0]);
  r.SetRecovery(recovery.offered[1]);
  s.SetExactLength(recovery.exactLength);
  const Windows windows = DrawWindows(seed, kWindowShare, kStreamingShare);
  s.SetWindowSize(windows.size[0]);
  r.SetWindowSize(windows.size[1]);
  s.SetStreaming(windows.reliable[0]);
  r.SetStreaming(windows.reliable[1]);
  Profile profile = RandomProfile(rng, 2 + 24 * static_cast<long>(files.size()));
  if (ext.on && xr.Chance(0.5)) profile.header = xr.LogUniform(0.005, 0.2);
  o.setting = std::to_string(files.size()) + " files, crc " + std::to_string(s.Crc() + 1) +
              (s.RetryLimit() ? "" : ", sender defaults") +
              (r.RetryLimit() ? "" : ", receiver defaults") +
              (s.AdaptiveTimeout() || r.AdaptiveTimeout() ? ", adaptive" : "") + ext.Describe() +
              recovery.Describe() + windows.Describe() + (hostile ? ", hostile handlers" : "") +
              "; " + profile.Describe();
  TRACE("case %s: %s", Hex(seed).c_str(), o.setting.c_str());
  Line line(rng, profile);
  line.replayDepth = windows.ReplayDepth();
  enum { kToReceiver = 0, kToSender = 1 };
  s.OnDataSend = [&](TObject*, const void* d, Cardinal n, bool, bool& handled) {
    handled = true;
    const std::string block(static_cast<const char*>(d), n);
    TRACE("S> %s", Printable(block).c_str());
    if (block.size() > kLongDataPos && block[kLenPos] == ' ') o.usedLong = true;
    if (r.Rept() != 0) o.usedRepeat = true;
    if (s.RecoveredLength() > 0) o.usedRecovery = true;
    if (s.WindowPeak() > 1) o.usedWindow = true;
    if (s.StreamingAgreed()) o.usedStreaming = true;
    line.Send(kToReceiver, block);
  };
  r.OnDataSend = [&](TObject*, const void* d, Cardinal n, bool, bool& handled) {
    handled = true;
    const std::string block(static_cast<const char*>(d), n);
    TRACE("R> %s", Printable(block).c_str());
    line.Send(kToSender, block);
  };

  ReceiverWatch rw(r, ws.in, files, o.failures);
  bool sending = false, sendError = false;
  int sendEnds = 0;
  WatchSender(s, sending, sendError);
  auto afterStep = [&] {
    rw.AfterStep();
    if (!sending || Running(s)) return;
    sending = false;
    ++sendEnds;
    if (sendError) return;
    o.completed = true;
    // Every file acknowledged: the receiver holds each as sent.
    for (const auto& [name, body] : files) {
      std::string got;
      if (!ReadFile(ws.in + "/" + name, got) || got != body)
        o.failures.push_back(
            {"sender: session ended without an error but the receiver's copy differs",
             name + ": " + Difference(got, body)});
    }
  };

  try {
    if (recovery.on)
      s.ResendFiles(ws.out + "/*");
    else
      s.SendFiles(ws.out + "/*");
  } catch (...) {
    o.failures.push_back({"exception escaped", "SendFiles"});
  }
  if (!sending) o.failures.push_back({"sender: no session started", ""});

  // In a share of cases one file is cut to half its size on disk part-way, from a stream of
  // its own; the sender checks lengths. A copy that is not the file sent must never count.
  Rng sr(seed ^ 0x736872696E6B7321ull);
  const bool shrinks = sr.Chance(kShrinkShare) && !files.empty();
  const long shrinkAt = shrinks ? 1 + static_cast<long>(sr.Below(60)) : -1;
  const std::size_t shrunk = shrinks ? sr.Below(static_cast<unsigned>(files.size())) : 0;
  if (shrinks) {
    s.SetCheckLengths(true);
    o.setting += ", " + files[shrunk].first + " shrinks";
  }

  const bool mayStream = windows.reliable[0] && windows.reliable[1];
  for (; o.failures.empty(); ++o.steps) {
    if (o.steps == shrinkAt) {
      TRACE("   %s is cut to half", files[shrunk].first.c_str());
      if (::truncate((ws.out + "/" + files[shrunk].first).c_str(),
                     static_cast<off_t>(files[shrunk].second.size() / 2)) != 0)
        o.failures.push_back({"cannot cut a file", files[shrunk].first});
    }
    // A streaming sender queues its next burst to the event loop: it runs between steps.
    if (mayStream) {
      try {
        QCoreApplication::sendPostedEvents(&s, QEvent::MetaCall);
      } catch (...) {
        o.failures.push_back({"exception escaped", "a queued streaming burst"});
      }
    }
    afterStep();
    if (!o.failures.empty()) break;
    if (sendEnds > 0 && !Running(r)) break;
    if (o.steps >= kStepBudget) {
      o.hang = true;
      o.failures.push_back({"hang: no end within the step budget",
                            "sender state " + std::to_string(s.State()) + ", receiver state " +
                                std::to_string(r.State())});
      break;
    }
    if (!line.Quiet()) {
      if (rng.Chance(profile.earlyTick)) {
        Watched& k = rng.Below(2) ? s : r;
        if (Running(k) && k.Timer().Enabled())
          Tick(k, &k == &s ? "sender" : "receiver", o.failures);
        continue;
      }
      int way = line.Empty(kToReceiver) ? kToSender
                : line.Empty(kToSender) ? kToReceiver
                                        : static_cast<int>(rng.Below(2));
      std::string bytes;
      do {
        const Chunk c = line.Pop(way);
        // A copy of the Send-Init that arrives after the receiver's session is over would
        // open a new one, which no sender past its Send-Init can tell from the old: such a
        // copy is not delivered. A sender still at its Send-Init is answered rightly.
        if (way == kToReceiver && c.init && rw.sessions > 0 && !rw.running &&
            !(Running(s) && s.LastSentType() == 'S')) {
          TRACE("   line withholds a stale Send-Init (%s)", c.how);
          continue;
        }
        bytes += line.Realise(way, c);
      } while (!line.Empty(way) && rng.Chance(profile.join));
      if (bytes.empty()) continue;
      Watched& to = way == kToReceiver ? r : s;
      TRACE("%s %s", way == kToReceiver ? ">R" : ">S", Printable(bytes).c_str());
      Deliver(to, bytes, way == kToReceiver ? "receiver" : "sender", rng, profile.split,
              o.failures);
      continue;
    }
    if (line.Holding()) {
      line.ReleaseHeld();
      continue;
    }
    // A quiet line: the reply time-outs of the sides whose sessions run.
    const bool sRuns = Running(s), rRuns = Running(r);
    if (!sRuns && !rRuns) break;
    if ((sRuns && !s.Timer().Enabled()) || (rRuns && !r.Timer().Enabled())) {
      o.hang = true;
      o.failures.push_back({"hang: waits with nothing in flight and no reply timer running",
                            sRuns && !s.Timer().Enabled() ? "sender" : "receiver"});
      break;
    }
    const unsigned pick = rng.Below(4);
    if (sRuns && rRuns && pick < 2) {
      if (pick == 0) {
        Tick(s, "sender", o.failures);
        if (Running(r) && r.Timer().Enabled()) Tick(r, "receiver", o.failures);
      } else {
        Tick(r, "receiver", o.failures);
        if (Running(s) && s.Timer().Enabled()) Tick(s, "sender", o.failures);
      }
    } else if (sRuns && (!rRuns || pick == 2)) {
      Tick(s, "sender", o.failures);
    } else {
      Tick(r, "receiver", o.failures);
    }
  }
  afterStep();
  if (o.failures.empty()) {
    rw.CheckReportedFiles();
    CheckWorkspace(ws, files, !shrinks, o.failures);
  }
  rerolls += line.rerolls;
  o.usedHostile = thrown > 0;
  s.Detach();
  r.Detach();
  return o;
}

// ---------------------------------------------------------------------------------------
// Kind 2: a receiver alone, fed a session stream through the line, and time-outs.

// Control prefixing always, eighth-bit prefixing with Qbin (0: none), the repeat prefix
// Rept (0: none) quoted as data, as a sender encodes.
void EncodeInto(std::uint8_t b, std::uint8_t qctl, std::uint8_t qbin, std::string& out,
                std::uint8_t rept = 0) {
  if (qbin != 0 && (b & 0x80)) {
    out += static_cast<char>(qbin);
    b &= 0x7F;
  }
  if (b < 32 || b == 127 || (qbin == 0 && b == 255)) {
    out += static_cast<char>(qctl);
    out += static_cast<char>(b ^ 64);
  } else if (b == qctl || (qbin != 0 && b == qbin) || (rept != 0 && b == rept)) {
    out += static_cast<char>(qctl);
    out += static_cast<char>(b);
  } else {
    out += static_cast<char>(b);
  }
}

std::string Frame(char type, unsigned seq, const std::string& data, int checkIndex) {
  std::uint8_t buf[vxkermit::kPacketImageSize];
  const std::size_t n = vxkermit::FramePacket(buf, static_cast<std::uint8_t>(type), seq,
                                              reinterpret_cast<const std::uint8_t*>(data.data()),
                                              data.size(), checkIndex);
  return std::string(reinterpret_cast<const char*>(buf), n);
}

// A long packet when Data does not fit Classic characters, else a classic one.
std::string FrameAny(char type, unsigned seq, const std::string& data, int checkIndex,
                     std::size_t classic) {
  if (data.size() <= classic) return Frame(type, seq, data, checkIndex);
  std::vector<std::uint8_t> buf(kLongDataPos + data.size() + 4);
  const std::size_t n = vxkermit::FrameLongPacket(
      buf.data(), static_cast<std::uint8_t>(type), seq,
      reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), checkIndex);
  return std::string(reinterpret_cast<const char*>(buf.data()), n);
}

struct Script {
  std::vector<std::string> packets;
  Sources files;  // every file sent, discarded ones included
  std::set<std::string> discarded;
  std::set<std::string> misannounced;  // files whose A packet gives a length they do not have
  std::string setting;
};

// A sender's session as it would send it with no fault: at most 60 packets, so that no
// sequence number comes round again within the replay window. OwnQbin is the receiver's
// eighth-bit choice, which decides the prefix in force when the sender only agrees.
// With Ext on, the script offers long packets and repeat counts as Ext's sender side says,
// and uses them as a sender would against a receiver set as Ext's receiver side: long
// packets up to the shorter limit, repeat counts when both take them (now and then for
// runs too short to gain, which is legal).
//
// With Lies, now and then a file's A packet announces an exact length other than the file's.
Script MakeScript(Rng& rng, std::uint8_t ownQbin, const Extension& ext, Rng& xr, Rng* lies) {
  Script s;
  const int check = rng.Chance(0.1) ? 0 : 1 + static_cast<int>(rng.Below(2));
  std::uint8_t qctl = '#';
  if (rng.Chance(0.2)) {
    do qctl = static_cast<std::uint8_t>(33 + rng.Below(94));
    while (!vxkermit::IsPrefixChar(qctl));
  }
  std::uint8_t qbinSent = 'Y', qbin = 0;
  const unsigned q = rng.Below(10);
  if (q < 2) {
    qbinSent = 'N';
  } else if (q < 5) {
    do qbinSent = static_cast<std::uint8_t>(33 + rng.Below(94));
    while (!vxkermit::IsPrefixChar(qbinSent) || qbinSent == qctl);
    qbin = qbinSent;
  } else if (vxkermit::IsPrefixChar(ownQbin) && ownQbin != qctl) {
    qbin = ownQbin;
  }
  const unsigned maxl = rng.Chance(0.6) ? 94 : 60 + rng.Below(35);
  const bool attributes = rng.Chance(0.8);
  const std::string init = {static_cast<char>(ToChar(maxl)),
                            static_cast<char>(ToChar(5)),
                            ' ',
                            '@',
                            static_cast<char>(ToChar(13)),
                            static_cast<char>(qctl),
                            static_cast<char>(qbinSent),
                            static_cast<char>('1' + check),
                            ' ',
                            static_cast<char>(ToChar(attributes ? vxkermit::kCapasAttributes : 0))};
  const std::size_t classicField = maxl - 2 - static_cast<std::size_t>(check + 1);
  std::size_t field = classicField;
  std::uint8_t rept = 0;
  std::string offer = init;
  if (ext.on) {
    const std::uint8_t proposed = '~';
    offer[vxkermit::ipRept] = static_cast<char>(ext.repeats[0] ? proposed : ' ');
    if (ext.repeats[0] && ext.repeats[1] && proposed != qctl && proposed != qbin) rept = proposed;
    if (ext.longs[0]) {
      offer[vxkermit::ipCapas] = static_cast<char>(
          ToChar((attributes ? vxkermit::kCapasAttributes : 0) | vxkermit::kCapasLongPackets));
      offer += '!';
      offer += static_cast<char>(ToChar(static_cast<unsigned>(ext.maxLong[0] / 95)));
      offer += static_cast<char>(ToChar(static_cast<unsigned>(ext.maxLong[0] % 95)));
      if (ext.longs[1]) {
        const std::size_t agreed =
            static_cast<std::size_t>(std::min(ext.maxLong[0], ext.maxLong[1]));
        field = std::max(field, agreed - static_cast<std::size_t>(check + 1));
      }
    }
  }
  unsigned seq = 0;
  s.packets.push_back(Frame('S', seq++, offer, 0));
  s.files = RandomSources(rng, 0);
  if (ext.on) MakeRunny(xr, s.files);
  for (std::size_t f = 0; f < s.files.size(); ++f) {
    const auto& [name, body] = s.files[f];
    std::vector<std::string> packets;
    std::string encodedName;
    for (unsigned char b : name) EncodeInto(b, qctl, qbin, encodedName, rept);
    packets.push_back(Frame('F', seq++, encodedName, check));
    if (attributes && rng.Chance(0.9)) {
      std::size_t announced = body.size();
      if (lies && lies->Chance(0.2)) {
        announced =
            body.empty() || lies->Chance(0.5) ? body.size() + 1 + lies->Below(3) : body.size() - 1;
        s.misannounced.insert(name);
      }
      const std::string size = std::to_string(announced);
      packets.push_back(Frame(
          'A', seq++,
          "1" + std::string(1, static_cast<char>(ToChar(static_cast<unsigned>(size.size())))) +
              size,
          check));
    }
    std::string encoded;
    const std::size_t target = rng.Chance(0.7) ? field : field / 2 + rng.Below(field / 2 + 1);
    for (std::size_t i = 0; i < body.size();) {
      const auto b = static_cast<unsigned char>(body[i]);
      std::size_t run = 1;
      std::string one;
      if (rept != 0) {
        while (run < 94 && i + run < body.size() && body[i + run] == body[i]) ++run;
        if (run < 3 && !xr.Chance(0.05)) run = 1;
      }
      if (run > 1 || (rept != 0 && xr.Chance(0.01))) {
        one += static_cast<char>(rept);
        one += static_cast<char>(ToChar(static_cast<unsigned>(run)));
      }
      EncodeInto(b, qctl, qbin, one, rept);
      if (encoded.size() + one.size() > target) {
        packets.push_back(FrameAny('D', seq++, encoded, check, classicField));
        encoded.clear();
      }
      encoded += one;
      i += run;
    }
    if (!encoded.empty()) packets.push_back(FrameAny('D', seq++, encoded, check, classicField));
    const bool discard = rng.Chance(0.05);
    packets.push_back(Frame('Z', seq++, discard ? "D" : "", check));
    if (s.packets.size() + packets.size() + 1 > 60) {
      s.files.resize(f);
      break;
    }
    if (discard) s.discarded.insert(name);
    s.packets.insert(s.packets.end(), packets.begin(), packets.end());
  }
  s.packets.push_back(Frame('B', seq, "", check));
  s.setting = std::to_string(s.files.size()) + " files, check " + std::to_string(check + 1) +
              ", qctl " + static_cast<char>(qctl) +
              (qbin ? std::string(", qbin ") + static_cast<char>(qbin) : std::string()) +
              ", maxl " + std::to_string(maxl) + (attributes ? "" : ", no attributes") +
              ext.Describe();
  return s;
}

Outcome RunReceiverStream(std::uint64_t seed, const Workspace& ws, long& rerolls) {
  Outcome o;
  Rng rng(seed);
  Rng xr = ExtensionRng(seed);
  const Extension ext = DrawExtension(xr, kExtendedShare);
  // In a share of cases the receiver checks lengths and the script lies about some, drawn
  // from a stream of their own.
  Rng lr(seed ^ 0x6C656E6774687321ull);
  const bool checks = lr.Chance(0.3);
  Watched r;
  Configure(r, rng, ws.in, "receiver");
  ApplyExtension(r, ext, 1);
  r.SetCheckLengths(checks);
  Script script = MakeScript(rng, r.EighthBitPrefix(), ext, xr, checks ? &lr : nullptr);
  Sources kept;
  for (const auto& f : script.files)
    if (!script.discarded.count(f.first)) kept.push_back(f);
  Profile profile = RandomProfile(rng, static_cast<long>(script.packets.size()));
  if (ext.on && xr.Chance(0.5)) profile.header = xr.LogUniform(0.005, 0.2);
  const double tickRate = rng.Chance(0.5) ? rng.LogUniform(0.005, 0.2) : 0.0;
  const double copies = rng.Chance(0.5) ? rng.LogUniform(0.05, 0.6) : 0.0;
  o.setting = script.setting + (r.RetryLimit() ? "" : ", receiver defaults") +
              (checks ? ", lengths checked" : "") +
              (script.misannounced.empty() ? "" : ", lengths announced wrong") + "; " +
              profile.Describe();
  TRACE("case %s: %s", Hex(seed).c_str(), o.setting.c_str());
  Line line(rng, profile);
  r.OnDataSend = [&](TObject*, const void* d, Cardinal n, bool, bool& handled) {
    handled = true;
    TRACE("R> %s", Printable(std::string(static_cast<const char*>(d), n)).c_str());
  };
  // Files discarded on request are not compared; the rest are, and a session that ends
  // well must have brought all of them.
  ReceiverWatch rw(r, ws.in, kept, o.failures);
  auto over = [&] { return (rw.sessions > 0 && !rw.running) || !o.failures.empty(); };
  auto flush = [&] {
    while (!over() && !(line.Quiet() && !line.Holding())) {
      if (line.Quiet()) line.ReleaseHeld();
      std::string bytes = line.Realise(0, line.Pop(0));
      while (!line.Empty(0) && rng.Chance(profile.join)) bytes += line.Realise(0, line.Pop(0));
      ++o.steps;
      if (bytes.empty()) continue;
      TRACE(">R %s", Printable(bytes).c_str());
      Deliver(r, bytes, "receiver", rng, profile.split, o.failures);
      if (r.LargestPacketReceived() > 96) o.usedLong = true;  // longer than any classic one sent
      if (r.Rept() != 0) o.usedRepeat = true;
      rw.AfterStep();
    }
  };
  for (const auto& packet : script.packets) {
    // A sender repeats a packet now and then, as after a lost answer.
    unsigned n = 1;
    while (n < 4 && rng.Chance(copies)) ++n;
    for (unsigned i = 0; i < n && !over(); ++i) {
      line.Send(0, packet);
      flush();
      if (!over() && Running(r) && r.Timer().Enabled() && rng.Chance(tickRate)) {
        Tick(r, "receiver", o.failures);
        rw.AfterStep();
        ++o.steps;
      }
    }
  }
  flush();
  // The sender has gone quiet: the receiver's time-outs must end what is still running.
  for (int ticks = 0; !over() && Running(r); ++ticks) {
    if (!r.Timer().Enabled()) {
      o.hang = true;
      o.failures.push_back(
          {"hang: waits with nothing in flight and no reply timer running", "receiver"});
      break;
    }
    if (ticks == 200) {
      o.hang = true;
      o.failures.push_back({"hang: receiver still in its session after 200 time-outs", ""});
      break;
    }
    Tick(r, "receiver", o.failures);
    rw.AfterStep();
    ++o.steps;
  }
  rw.AfterStep();
  o.started = rw.sessions > 0;
  o.completed = rw.cleanEnds > 0;
  // A file that does not have the length its sender announced is never reported received.
  for (const std::string& name : script.misannounced)
    if (rw.reported.count(name))
      o.failures.push_back({"reported received with a length other than the one announced", name});
  if (o.failures.empty()) {
    rw.CheckReportedFiles();
    CheckWorkspace(ws, script.files, false, o.failures);
  }
  rerolls += line.rerolls;
  r.Detach();
  return o;
}

// ---------------------------------------------------------------------------------------
// Kind 3: a sender alone, answered by a hostile peer.

// The answer to a Send-Init: a receiver's parameters, now and then odd ones.
std::string InitAnswer(Rng& rng) {
  std::string p = {static_cast<char>(ToChar(rng.Chance(0.5) ? 94 : 10 + rng.Below(85))),
                   static_cast<char>(ToChar(1 + rng.Below(30))),
                   ' ',
                   '@',
                   static_cast<char>(ToChar(13)),
                   rng.Chance(0.8) ? '#' : static_cast<char>(33 + rng.Below(94)),
                   "YN&#"[rng.Below(4)],
                   static_cast<char>('1' + rng.Below(3)),
                   ' ',
                   static_cast<char>(ToChar(rng.Below(64)))};
  if (rng.Chance(0.1)) p[rng.Below(10)] = static_cast<char>(rng.Byte());
  if (rng.Chance(0.1)) p.resize(rng.Below(11));
  return p;
}

// Ext's receiver side in a received answer to a Send-Init: the repeat prefix and the
// long-packet bit with MAXLX1/MAXLX2, now and then of any value.
std::string ExtendAnswer(std::string p, const Extension& ext, Rng& xr) {
  if (!ext.on || p.size() != vxkermit::kInitFieldCount) return p;
  if (ext.repeats[1]) p[vxkermit::ipRept] = '~';
  const int capas = UnChar(static_cast<std::uint8_t>(p[vxkermit::ipCapas]));
  if (ext.longs[1] && capas >= 0 && capas < 64) {
    p[vxkermit::ipCapas] =
        static_cast<char>(ToChar(static_cast<unsigned>(capas) | vxkermit::kCapasLongPackets));
    p += '!';
    p += static_cast<char>(ToChar(static_cast<unsigned>(ext.maxLong[1] / 95)));
    p += static_cast<char>(ToChar(static_cast<unsigned>(ext.maxLong[1] % 95)));
    if (xr.Chance(0.1)) p[p.size() - 1 - xr.Below(3)] = static_cast<char>(xr.Byte());
  }
  return p;
}

Outcome RunSenderStream(std::uint64_t seed, const Workspace& ws) {
  Outcome o;
  Rng rng(seed);
  Rng xr = ExtensionRng(seed);
  const Extension ext = DrawExtension(xr, kExtendedShare);
  Sources files = RandomSources(rng, 1);
  if (ext.on) MakeRunny(xr, files);
  for (const auto& [name, body] : files) WriteFile(ws.out + "/" + name, body);
  Watched s;
  Configure(s, rng, ws.out, "sender");
  ApplyExtension(s, ext, 0);
  // How the peer answers: mostly as it should, otherwise in every wrong way.
  const double good = rng.Chance(0.2) ? rng.LogUniform(0.3, 0.8) : 0.8 + 0.19 * rng.Unit();
  const double earlyTick = rng.Chance(0.2) ? rng.LogUniform(0.002, 0.05) : 0.0;
  const double split = rng.Chance(0.3) ? rng.LogUniform(0.05, 0.6) : 0.0;
  o.setting = std::to_string(files.size()) + " files, crc " + std::to_string(s.Crc() + 1) +
              (s.RetryLimit() ? "" : ", sender defaults") + ", good answers " +
              std::to_string(good).substr(0, 4) + ext.Describe();
  TRACE("case %s: %s", Hex(seed).c_str(), o.setting.c_str());

  std::deque<std::string> answers;
  std::vector<std::string> history;
  int outstanding = -1;
  char outstandingType = 0, lastType = 0;
  bool acked = false;
  auto fail = [&](const std::string& what, const std::string& detail) {
    o.failures.push_back({"sender: " + what, detail});
    TRACE("!! sender: %s: %s", what.c_str(), detail.c_str());
  };

  // Answers one packet of the sender's. Framed with the check the sender has in force
  // as it sends (type 1 up to the answer to its Send-Init).
  auto answer = [&](char type, int seq) {
    const int check = s.CheckIndex();
    const unsigned n = static_cast<unsigned>(seq);
    auto add = [&](const std::string& a) {
      answers.push_back(a);
      history.push_back(a);
    };
    auto proper = [&] {
      std::string data;
      if (type == 'S') data = ExtendAnswer(InitAnswer(rng), ext, xr);
      if (type == 'D' && rng.Chance(0.03)) data = rng.Chance(0.5) ? "X" : "Z";
      return Frame('Y', n, data, check);
    };
    int count = rng.Chance(0.05) ? 2 : 1;
    for (int i = 0; i < count; ++i) {
      if (rng.Chance(good)) {
        add(proper());
        continue;
      }
      switch (rng.Below(14)) {
        case 0:
          break;  // no answer
        case 1:
          add(Frame('N', n, "", check));
          break;
        case 2:
          add(Frame('N', n + 1, "", check));  // acknowledges N as well
          break;
        case 3:
          add(Frame('Y', n + 63 + 2 * rng.Below(2), "", check));  // the one before or after
          break;
        case 4:
          add(Frame(rng.Chance(0.5) ? 'Y' : 'N', rng.Below(64), "", check));
          break;
        case 5: {
          // The right number, framed with a check not in force.
          add(Frame('Y', n, type == 'S' ? InitAnswer(rng) : "", (check + 1 + rng.Below(2)) % 3));
          break;
        }
        case 6: {
          // A sequence character out of range, with a good check: not an acknowledgement.
          std::string a = proper();
          a[kSeqPos] = static_cast<char>(rng.Chance(0.5) ? ToChar(n) + 64 : 128 + rng.Below(128));
          std::uint8_t buf[vxkermit::kPacketImageSize] = {};
          std::memcpy(buf, a.data(), a.size());
          const std::size_t len = static_cast<std::size_t>(UnChar(buf[kLenPos]));
          vxkermit::WriteCheckChars(vxkermit::CalcBlockCheck(buf, check), check,
                                    buf + len + 2 - static_cast<std::size_t>(check + 1));
          add(std::string(reinterpret_cast<const char*>(buf), a.size()));
          break;
        }
        case 7:
          add(Frame('E', n, "hostile peer gives up", check));
          break;
        case 8:
          add(Frame('B', n, "", check));  // a break from the receiving side
          break;
        case 9: {
          const char other = "SFADZXQTGIRCK"[rng.Below(13)];
          add(Frame(other, n, other == 'S' ? InitAnswer(rng) : "x", check));
          break;
        }
        case 10: {
          // A proper answer damaged on its way.
          std::string a = proper();
          switch (rng.Below(5)) {
            case 0:
              a.resize(rng.Below(static_cast<unsigned>(a.size())));
              break;
            case 1:
              a[kLenPos] = static_cast<char>(rng.Byte());
              break;
            case 2:
              a[kSeqPos] = static_cast<char>(rng.Byte());
              break;
            case 3:
              a.insert(1 + rng.Below(static_cast<unsigned>(a.size() - 1)), 1,
                       static_cast<char>(kMark));
              break;
            default:
              a[rng.Below(static_cast<unsigned>(a.size()))] ^= static_cast<char>(1 << rng.Below(8));
              break;
          }
          add(a);
          break;
        }
        case 11: {
          std::string g(1 + rng.Below(40), '\0');
          for (auto& c : g) c = static_cast<char>(rng.Chance(0.1) ? kMark : rng.Byte());
          add(g);
          break;
        }
        case 12:
          if (!history.empty()) add(history[rng.Below(static_cast<unsigned>(history.size()))]);
          break;
        default:
          add(proper());
          add(proper());
          break;
      }
    }
  };

  bool sending = false, sendError = false;
  s.OnDataSend = [&](TObject*, const void* d, Cardinal len, bool, bool& handled) {
    handled = true;
    const std::string block(static_cast<const char*>(d), len);
    TRACE("S> %s", Printable(block).c_str());
    if (block.size() <= kTypePos)
      return fail("sent a block too short for a packet", Printable(block));
    const char type = block[kTypePos];
    const int seq = UnChar(static_cast<std::uint8_t>(block[kSeqPos]));
    lastType = type;
    if (block.size() > kLongDataPos && block[kLenPos] == ' ') o.usedLong = true;
    if (s.Rept() != 0) o.usedRepeat = true;
    if (type == 'E') return;
    if (seq != outstanding) {
      if (outstanding >= 0 && !acked)
        fail("moved on without the acknowledgement of its outstanding packet",
             std::string("from ") + outstandingType + std::to_string(outstanding) + " to " + type +
                 std::to_string(seq));
      outstanding = seq;
      outstandingType = type;
      acked = false;
    }
    if (type != 'B') answer(type, seq);
  };
  WatchSender(s, sending, sendError);

  try {
    s.SendFiles(ws.out + "/*");
  } catch (...) {
    o.failures.push_back({"exception escaped", "SendFiles"});
  }
  if (!sending) o.failures.push_back({"sender: no session started", ""});

  // What a delivered answer acknowledges: any packet image in it, from any MARK, that
  // verifies under the check in force and is a Y for the outstanding packet (or a NAK for
  // the one after it, but never for a Send-Init, whose answer carries parameters).
  std::string tail;
  auto acknowledges = [&](const std::string& bytes) {
    const std::string buf = tail + bytes;
    const int check = s.CheckIndex();
    for (std::size_t p = 0; p + 1 < buf.size(); ++p) {
      if (buf[p] != static_cast<char>(kMark)) continue;
      const int len = UnChar(static_cast<std::uint8_t>(buf[p + 1]));
      const std::size_t end = p + static_cast<std::size_t>(std::max(len, 0)) + 2;
      if (len < vxkermit::MinPacketLen(check) || end > buf.size() || end <= tail.size()) continue;
      std::uint8_t image[vxkermit::kPacketImageSize] = {};
      std::memcpy(image, buf.data() + p, end - p);
      if (!vxkermit::VerifyBlockCheck(image, check)) continue;
      const std::uint8_t seqChar = image[kSeqPos];
      if (image[kTypePos] == 'Y' && seqChar == ToChar(static_cast<unsigned>(outstanding)))
        acked = true;
      if (image[kTypePos] == 'N' && outstandingType != 'S' &&
          seqChar == ToChar(static_cast<unsigned>((outstanding + 1) & 63)))
        acked = true;
    }
    tail = buf.substr(buf.size() > 256 ? buf.size() - 256 : 0);
  };

  for (; sending && o.failures.empty(); ++o.steps) {
    if (o.steps >= kStepBudget) {
      o.hang = true;
      o.failures.push_back({"hang: no end within the step budget", "sender"});
      break;
    }
    if (!answers.empty() && !rng.Chance(earlyTick)) {
      const std::string a = answers.front();
      answers.pop_front();
      acknowledges(a);
      TRACE(">S %s", Printable(a).c_str());
      Deliver(s, a, "sender", rng, split, o.failures);
    } else if (Running(s)) {
      if (!s.Timer().Enabled()) {
        o.hang = true;
        o.failures.push_back(
            {"hang: waits with nothing in flight and no reply timer running", "sender"});
        break;
      }
      Tick(s, "sender", o.failures);
    }
    if (!Running(s)) {
      sending = false;
      if (!sendError) {
        o.completed = true;
        if (lastType != 'B')
          fail("session ended without an error before its own break",
               std::string("last packet sent: ") + lastType);
      }
    }
  }
  if (o.failures.empty()) CheckWorkspace(ws, files, true, o.failures);
  s.Detach();
  return o;
}

// ---------------------------------------------------------------------------------------
// The runner.

void PrintCounts(const char* test, const Counts& c, const char* seedKind, std::uint64_t seed,
                 double seconds) {
  std::printf(
      "[%s] %s seed %s, scale %g: %ld cases in %.1f s; %ld completed, %ld ended in error, "
      "%ld never started; %ld hung; %ld failing; %ld re-rolled line damages; steps %ld (most "
      "in one case %ld); long packets in %ld, repeat counts in %ld, windows in %ld, streaming in "
      "%ld\n",
      test, seedKind, Hex(seed).c_str(), Scale(), c.cases, seconds, c.completed, c.endedInError,
      c.neverStarted, c.hangs, c.failingCases, c.rerolls, c.steps, c.maxSteps, c.longPackets,
      c.repeatCounts, c.windows, c.streaming);
  for (const auto& [category, n] : c.byCategory)
    std::printf("[%s]   %ld case(s): %s\n", test, n, category.c_str());
  std::fflush(stdout);
}

template <typename Run>
void RunCases(const char* test, int kind, long atScaleOne, Run run) {
  bool replay = false;
  const std::uint64_t one = EnvSeed("VXKERMIT_PROPERTY_SEED", 0, &replay);
  const std::uint64_t base = EnvSeed("VXKERMIT_PROPERTY_BASE_SEED", 0x5EED20261208ull);
  Workspace ws(std::string("property-") + std::to_string(kind));
  Counts counts;
  if (replay) {
    g_tracing = true;
    const Outcome o = run(one, ws, counts.rerolls);
    g_tracing = false;
    Account(counts, o, test, one, 0);
    PrintCounts(test, counts, "case", one, 0);
    for (const auto& r : counts.reports) std::printf("%s\n", r.c_str());
    EXPECT_EQ(counts.failingCases, 0);
    return;
  }
  const long cases = std::max(1L, std::lround(static_cast<double>(atScaleOne) * Scale()));
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < cases && counts.failingCases < kMaxFailingCases; ++i) {
    const std::uint64_t seed = CaseSeed(base, kind, i);
    const Outcome o = run(seed, ws, counts.rerolls);
    Account(counts, o, test, seed, i);
    ws.Clear();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  PrintCounts(test, counts, "base", base, seconds);
  for (std::size_t i = 0; i < counts.reports.size() && i < 12; ++i)
    std::printf("%s\n", counts.reports[i].c_str());
  EXPECT_EQ(counts.failingCases, 0)
      << "first failing cases above; the run stops after " << kMaxFailingCases;
  // A property only means something if its cases reach the states it speaks of.
  EXPECT_GT(counts.completed, counts.cases / 10);
  EXPECT_GT(counts.endedInError, counts.cases / 10);
  EXPECT_GT(counts.longPackets, counts.cases / 50) << "long packets are no longer used";
  if (kind != 3) {
    EXPECT_GT(counts.repeatCounts, counts.cases / 50) << "repeat counts are no longer used";
  }
  if (kind == 1) {
    std::printf("[%s] a resend started past the beginning of a file in %ld cases\n", test,
                counts.recoveries);
    EXPECT_GT(counts.recoveries, counts.cases / 100) << "recovery is no longer used";
    EXPECT_GT(counts.windows, counts.cases / 50) << "windows are no longer used";
    EXPECT_GT(counts.streaming, counts.cases / 50) << "streaming is no longer used";
    std::printf("[%s] application handlers threw in %ld cases\n", test, counts.hostile);
    EXPECT_GT(counts.hostile, counts.cases / 50) << "hostile handlers are no longer used";
  }
}

}  // namespace

TEST(KermitProperty, TwoComponentsThroughAHostileLine) {
  RunCases("TwoComponentsThroughAHostileLine", 1, kLiveCases,
           [](std::uint64_t seed, const Workspace& ws, long& rerolls) {
             return RunLiveCase(seed, ws, rerolls);
           });
}

TEST(KermitProperty, ReceiverFedAMangledSessionStream) {
  RunCases("ReceiverFedAMangledSessionStream", 2, kReceiverStreams,
           [](std::uint64_t seed, const Workspace& ws, long& rerolls) {
             return RunReceiverStream(seed, ws, rerolls);
           });
}

TEST(KermitProperty, SenderFedHostileAnswers) {
  RunCases(
      "SenderFedHostileAnswers", 3, kSenderStreams,
      [](std::uint64_t seed, const Workspace& ws, long&) { return RunSenderStream(seed, ws); });
}
