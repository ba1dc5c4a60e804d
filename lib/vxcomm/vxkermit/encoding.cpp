#include "vxcomm/vxkermit/encoding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vxcomm {

namespace vxkermit {

std::string EncodeText(const std::string& bytes, std::uint8_t qctl, std::uint8_t qbin,
                       std::uint8_t rept) {
  std::string out;
  std::uint8_t one[kMaxEncodedByte];
  for (char c : bytes) {
    const std::size_t n = EncodeByte(static_cast<std::uint8_t>(c), qctl, qbin, rept, one);
    out.append(reinterpret_cast<const char*>(one), n);
  }
  return out;
}

namespace {

// True when B is a control character that minimal prefixing lets travel as it is (behind
// Qbin when it has the eighth bit and Qbin is in force).
bool TravelsUnprefixed(std::uint8_t b, const TPrefixes& prefixes) {
  if (!prefixes.minimal) return false;
  const std::uint8_t low = prefixes.qbin != 0 ? b & 0x7F : b;
  return low < 32 && !KeepsControlPrefix(low);
}

std::size_t EncodeDataByte(std::uint8_t b, const TPrefixes& p, std::uint8_t* out) {
  if (!TravelsUnprefixed(b, p)) return EncodeByte(b, p.qctl, p.qbin, p.rept, out);
  std::size_t n = 0;
  if (p.qbin != 0 && (b & 0x80)) out[n++] = p.qbin;
  out[n++] = p.qbin != 0 ? b & 0x7F : b;
  return n;
}

}  // namespace

namespace {

// The encoding of every byte value under one set of prefixes, looked up instead of worked out
// byte by byte: the sender's hot path.
struct TCodeTable {
  std::uint8_t qctl = 0, qbin = 0, rept = 0;
  bool minimal = false, filled = false;
  std::array<std::uint8_t, 256> length{};
  std::array<std::array<std::uint8_t, kMaxEncodedByte>, 256> chars{};

  bool For(const TPrefixes& p) const {
    return filled && qctl == p.qctl && qbin == p.qbin && rept == p.rept && minimal == p.minimal;
  }
  void Fill(const TPrefixes& p) {
    qctl = p.qctl;
    qbin = p.qbin;
    rept = p.rept;
    minimal = p.minimal;
    for (unsigned b = 0; b < 256; ++b)
      length[b] = static_cast<std::uint8_t>(
          EncodeDataByte(static_cast<std::uint8_t>(b), p, chars[b].data()));
    filled = true;
  }
};

// The table for Prefixes; each thread keeps the last one it used (a session keeps its
// prefixes, so it is filled once a session).
const TCodeTable& CodeTableFor(const TPrefixes& prefixes) {
  thread_local TCodeTable table;
  if (!table.For(prefixes)) table.Fill(prefixes);
  return table;
}

}  // namespace

std::size_t EncodeData(const std::uint8_t* in, std::size_t len, const TPrefixes& prefixes,
                       std::uint8_t* out, std::size_t room, std::size_t& written) {
  const TCodeTable& code = CodeTableFor(prefixes);
  const std::uint8_t rept = prefixes.rept;
  std::size_t i = 0, w = 0;
  while (i < len) {
    const std::uint8_t b = in[i];
    const std::size_t one = code.length[b];
    const std::uint8_t* chars = code.chars[b].data();
    if (rept != 0 && i + 1 < len && in[i + 1] == b) {
      std::size_t run = 2;
      const std::size_t most = std::min(len - i, kMaxRepeatCount);
      while (run < most && in[i + run] == b) ++run;
      // A repeat group costs two characters more than the byte: worth it only when shorter.
      if (2 + one < run * one && w + 2 + one <= room) {
        out[w++] = rept;
        out[w++] = static_cast<std::uint8_t>(run + 32);
        for (std::size_t k = 0; k < one; ++k) out[w++] = chars[k];
        i += run;
        continue;
      }
    }
    if (w + one > room) break;
    for (std::size_t k = 0; k < one; ++k) out[w++] = chars[k];
    ++i;
  }
  written = w;
  return i;
}

namespace {

// The byte a quoted character D stands for.
std::uint8_t Unquote(std::uint8_t d, std::uint8_t qctl, std::uint8_t qbin, std::uint8_t rept) {
  if (d == qctl || d == kQuotedHigh) return d;
  const std::uint8_t low = d & 0x7F;
  // With eighth-bit prefixing a peer may also quote the prefixes with the top bit set.
  if (qbin != 0 && (low == qctl || low == qbin)) return d;
  if (rept != 0 && low == rept) return d;
  return static_cast<std::uint8_t>(d ^ 64);
}

}  // namespace

std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, std::uint8_t qctl,
                           std::uint8_t qbin, std::uint8_t* out) {
  return DecodeField(in, len, TPrefixes{qctl, qbin, 0}, out, len);
}

std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, const TPrefixes& prefixes,
                           std::uint8_t* out, std::size_t room) {
  const std::uint8_t qctl = prefixes.qctl, qbin = prefixes.qbin, rept = prefixes.rept;
  std::size_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    std::uint8_t c = in[i];
    std::size_t count = 1;
    if (rept != 0 && c == rept) {
      if (++i == len) return -1;
      const int r = static_cast<int>(in[i]) - 32;
      if (r < 1 || r > static_cast<int>(kMaxRepeatCount)) return -1;
      count = static_cast<std::size_t>(r);
      if (++i == len) return -1;
      c = in[i];
      // A repeat of a repeat is no encoding any sender produces.
      if (c == rept) return -1;
    }
    std::uint8_t high = 0;
    if (qbin != 0 && c == qbin) {
      if (++i == len) return -1;
      high = 0x80;
      c = in[i];
      if (rept != 0 && c == rept) return -1;
    }
    if (c == qctl) {
      if (++i == len) return -1;
      c = Unquote(in[i], qctl, qbin, rept);
    }
    if (count > room - n) return -1;
    std::memset(out + n, c | high, count);
    n += count;
  }
  return static_cast<std::ptrdiff_t>(n);
}

}  // namespace vxkermit

}  // namespace vxcomm
