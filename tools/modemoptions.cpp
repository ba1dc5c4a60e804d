#include "modemoptions.h"

#include <limits>

#include "lineoptions.h"
#include "vxcomm/vxxmodem.h"
#include "vxcomm/vxymodem.h"
#include "vxcomm/vxzmodem.h"

TModemOptions::TModemOptions()
    : protocol_("protocol",
                "xmodem, ymodem or zmodem (default ymodem: it carries each file's name, exact "
                "length and date, and several files in one session; so does zmodem, with "
                "CRC-32 and data that goes again from where damage met it).",
                "name", "ymodem"),
      block1k_("1k",
               "send, XMODEM: 1024-byte blocks (a tail of 128 bytes or less still goes in a "
               "128-byte block). YMODEM always sends 1K blocks."),
      crc_("crc",
           "receive, XMODEM: ask the sender for CRC-16 (the default; after 3 unanswered asks "
           "the 8-bit sum is asked for)."),
      sum_("sum", "receive, XMODEM: ask the sender for the 8-bit sum from the start."),
      strip_padding_("strip-padding",
                     "receive, XMODEM: do not store the SUB (0x1A) bytes that end the last "
                     "block. A file that really ended in SUB bytes loses them too."),
      streaming_({"g", "streaming"},
                 "receive, YMODEM: ask for YMODEM-g, blocks without acknowledgements, for an "
                 "error-free line only: any damage ends the transfer."),
      timeout_("timeout", "Longest wait for the peer's answer in seconds, 1 to 60 (default 10).",
               "s", "10"),
      retry_limit_("retry-limit",
                   "Tries for one block (time-outs, damaged or refused blocks in a row; the "
                   "wait for the peer to start included) before the transfer fails, 1 to 1000 "
                   "(default 10).",
                   "n", "10"),
      error_limit_("error-limit",
                   "Errors allowed in the whole session before the transfer fails, 0 for no "
                   "limit (the default: a long transfer on a noisy line goes on while each "
                   "block gets through within its tries).",
                   "n", "0"),
      collision_("collision",
                 "receive: what a received file does to a file of the same name: backup (the "
                 "default) keeps the old one as NAME.~N~ (the first free N), overwrite "
                 "replaces it, rename stores the new one as NAME.~N~, discard refuses the new "
                 "one, update takes it only when its sender dates it newer (XMODEM gives no "
                 "date: a file of the same name refuses it). A refused file, and one whose name "
                 "there is a symbolic link, a directory or another special file (whatever this "
                 "says), ends the transfer under XMODEM and YMODEM, which cannot skip one; "
                 "ZMODEM skips it, goes on with the next and fails at the end.",
                 "p", "backup") {}

QList<QCommandLineOption> TModemOptions::All() const {
  return {protocol_,  block1k_, crc_,         sum_,         strip_padding_,
          streaming_, timeout_, retry_limit_, error_limit_, collision_};
}

std::string TModemOptions::Read(const QCommandLineParser& parser, bool sending,
                                TModemSettings& m) const {
  const QString protocol = parser.value(protocol_);
  if (protocol == "xmodem")
    m.protocol = TModemProtocol::kXModem;
  else if (protocol == "ymodem")
    m.protocol = TModemProtocol::kYModem;
  else if (protocol == "zmodem")
    m.protocol = TModemProtocol::kZModem;
  else
    return "unknown protocol " + protocol.toStdString() + " (xmodem, ymodem or zmodem)";
  if (!ParseNumber(parser.value(timeout_), 1, 60, m.timeoutSec)) return "bad --timeout";
  if (!ParseNumber(parser.value(retry_limit_), 1, 1000, m.retryLimit)) return "bad --retry-limit";
  if (!ParseNumber(parser.value(error_limit_), 0, 1000000, m.errorLimit))
    return "bad --error-limit";
  if (const std::string bad = ReadCollision(parser.value(collision_), m.collision); !bad.empty())
    return bad;
  m.block1k = parser.isSet(block1k_);
  m.sum = parser.isSet(sum_);
  m.stripPadding = parser.isSet(strip_padding_);
  m.streaming = parser.isSet(streaming_);
  const bool xmodemReceive = !sending && !m.Batch();
  if (m.block1k && (!sending || m.Batch()))
    return "--1k is for sending XMODEM (the sender chooses the block size; YMODEM's are 1K)";
  if ((m.sum || parser.isSet(crc_)) && !xmodemReceive)
    return "--crc and --sum are for receiving XMODEM (the receiver chooses the check)";
  if (m.sum && parser.isSet(crc_)) return "--crc and --sum exclude each other";
  if (m.stripPadding && !xmodemReceive)
    return "--strip-padding is for receiving XMODEM (YMODEM files have their exact length)";
  if (m.streaming && (sending || m.protocol != TModemProtocol::kYModem))
    return "--streaming is for receiving YMODEM (the receiver asks for YMODEM-g; a sender "
           "does what it asks)";
  return {};
}

void ApplyModemSettings(TvxCustomFileTransfer& transfer, const TModemSettings& m) {
  transfer.SetTimeout(m.timeoutSec * 1000);
  transfer.SetRetryLimit(m.retryLimit);
  transfer.SetErrorLimit(m.errorLimit > 0 ? m.errorLimit : std::numeric_limits<int>::max());
  transfer.SetFileCollision(m.collision);
}

void ApplyModemSettings(TvxXModem& xmodem, const TModemSettings& m) {
  ApplyModemSettings(static_cast<TvxCustomFileTransfer&>(xmodem), m);
  xmodem.SetBlock1K(m.block1k);
  xmodem.SetCrc(!m.sum);
  xmodem.SetStripPadding(m.stripPadding);
}

void ApplyModemSettings(TvxYModem& ymodem, const TModemSettings& m) {
  ApplyModemSettings(static_cast<TvxCustomFileTransfer&>(ymodem), m);
  ymodem.SetStreaming(m.streaming);
}

void ApplyModemSettings(TvxZModem& zmodem, const TModemSettings& m) {
  ApplyModemSettings(static_cast<TvxCustomFileTransfer&>(zmodem), m);
}
