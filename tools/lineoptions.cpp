#include "lineoptions.h"

#include <climits>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"

const QStringList& ParityNames() {
  static const QStringList names = {"none", "odd", "even", "mark", "space"};
  return names;
}

const QStringList& StopBitsNames() {
  static const QStringList names = {"1", "1.5", "2"};
  return names;
}

// In the order of TvxFileCollision.
const QStringList& CollisionNames() {
  static const QStringList names = {"overwrite", "backup", "rename", "discard", "update"};
  return names;
}

const QStringList& FlowNames() {
  static const QStringList names = {"none", "xonxoff", "hardware"};
  return names;
}

TLineOptions::TLineOptions()
    : speed_("speed", "Line speed in bits per second (default 115200).", "bps", "115200"),
      data_bits_("data-bits", "Data bits: 5 to 8 (default 8).", "n", "8"),
      parity_("parity", "Parity: none, odd, even, mark or space (default none).", "p", "none"),
      stop_bits_("stop-bits", "Stop bits: 1, 1.5 or 2 (default 1).", "n", "1"),
      flow_("flow", "Flow control: none, xonxoff or hardware (default none).", "f", "none"),
      keep_settings_("keep-settings",
                     "Leave the device with this program's line settings when it ends. By "
                     "default they are put back as they were found (speed, framing and the "
                     "terminal flags), whether the program ends normally or by a signal."),
      check_("check",
             "Block check proposed when sending: 1, 2 or 3 (default 3), or 5 for the type 3 check "
             "on every packet, the first ones included (a peer set to block check 5 takes "
             "nothing else).",
             "n", "3"),
      timeout_("timeout",
               "Longest wait for a reply in seconds (default 5). Below it the wait follows the "
               "line's measured round trip, unless --fixed-timeout.",
               "s", "5"),
      fixed_timeout_("fixed-timeout", "Wait the whole --timeout for every reply."),
      retry_limit_("retry-limit",
                   "Failures in a row allowed for one packet before the transfer fails (default "
                   "10; 0: no limit).",
                   "n", "10"),
      error_limit_("error-limit", "Errors allowed in a whole session (default 0: no limit).", "n",
                   "0"),
      packet_length_(
          "packet-length",
          "Longest packet this side takes and sends, 95 to 9024 (default 9024). Our sender "
          "shortens its packets on a noisy line by itself; a sender that keeps them long "
          "repeats them until it gives up, so on a very noisy line receive with a smaller "
          "length.",
          "n"),
      window_("window",
              "Most packets in flight (a sliding window), 1 to 31 (default 31; 1 offers none). "
              "The smaller of both sides' offers is used.",
              "n", "31"),
      classic_("classic",
               "Speak the basic protocol: packets of at most 94 bytes, no repeat-count "
               "compression, one packet in flight, no exact length, date or recovery."),
      prefix_all_("prefix-all",
                  "Prefix every control character in the data sent, whatever the peer. By "
                  "default only those a line or a receiver acts on (NUL, SOH, Ctrl-D, LF, CR, "
                  "XON, XOFF, Ctrl-U, DEL and 255) are, and only with a peer whose Send-Init "
                  "shows a full Kermit program (it offers a sliding window or says what it "
                  "is), which saves about a tenth of the line on random data; every other peer "
                  "(a bootloader) gets every control character prefixed."),
      minimal_prefixing_("minimal-prefixing",
                         "Prefix only the control characters a line or a receiver acts on, "
                         "whatever the peer: for a line and a peer known to take the others "
                         "bare."),
      reliable_(
          "reliable",
          "Declare the line reliable (it neither loses nor damages bytes): data packets stream "
          "without acknowledgements when the peer agrees, and any error ends the transfer."),
      text_("text",
            "Send every file as text: each LF crosses as CR LF and the receiver stores the "
            "file with its own line ends. By default files are sent byte for byte."),
      auto_type_("auto-type",
                 "Send each file as text or binary as its content suggests (no NUL and no "
                 "control characters but TAB, LF, VT, FF, CR, BS, ESC and Ctrl-Z in its first "
                 "4 KiB: text), as standard peers do; to a peer that names itself a Unix "
                 "system every file goes in binary, as between two such peers."),
      collision_("collision",
                 "What a received file does to a file of the same name in the receiving "
                 "directory: backup (the default) keeps the old one as NAME.~N~ (the first free "
                 "N), overwrite replaces it, rename stores the new one as NAME.~N~, discard "
                 "refuses the new one, update takes it only when its sender dates it newer. A "
                 "name that is a symbolic link, a directory or another special file there is "
                 "refused whatever this says; a refused file is skipped and the session goes on.",
                 "p", "backup") {}

QList<QCommandLineOption> TLineOptions::Line() const {
  return {speed_, data_bits_, parity_, stop_bits_, flow_, keep_settings_};
}

QList<QCommandLineOption> TLineOptions::Kermit() const {
  return {check_,     timeout_,  fixed_timeout_, retry_limit_, error_limit_,       packet_length_,
          window_,    classic_,  reliable_,      prefix_all_,  minimal_prefixing_, text_,
          auto_type_, collision_};
}

bool ParseNumber(const QString& text, int low, int high, int& out) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < low || v > high) return false;
  out = v;
  return true;
}

std::string TLineOptions::ReadLine(const QCommandLineParser& parser, TLineSettings& line) const {
  if (!ParseNumber(parser.value(speed_), 50, 4000000, line.bps)) return "bad --speed";
  if (!ParseNumber(parser.value(data_bits_), 5, 8, line.dataBits)) return "bad --data-bits";
  line.parity = static_cast<int>(ParityNames().indexOf(parser.value(parity_)));
  line.stopBits = static_cast<int>(StopBitsNames().indexOf(parser.value(stop_bits_)));
  line.flow = static_cast<int>(FlowNames().indexOf(parser.value(flow_)));
  if (line.parity < 0) return "bad --parity";
  if (line.stopBits < 0) return "bad --stop-bits";
  if (line.flow < 0) return "bad --flow";
  line.keepSettings = parser.isSet(keep_settings_);
  return {};
}

std::string TLineOptions::Read(const QCommandLineParser& parser, TLineSettings& line,
                               TKermitSettings& k) const {
  if (const std::string bad = ReadLine(parser, line); !bad.empty()) return bad;
  if (!ParseNumber(parser.value(check_), 1, 5, k.check) || k.check == 4) return "bad --check";
  if (!ParseNumber(parser.value(timeout_), 1, 60, k.timeoutSec)) return "bad --timeout";
  if (!ParseNumber(parser.value(retry_limit_), 0, 1000000, k.retryLimit))
    return "bad --retry-limit";
  if (!ParseNumber(parser.value(error_limit_), 0, 1000000, k.errorLimit))
    return "bad --error-limit";
  if (parser.isSet(packet_length_) &&
      !ParseNumber(parser.value(packet_length_), 95, 9024, k.packetLength))
    return "bad --packet-length";
  if (!ParseNumber(parser.value(window_), 1, 31, k.window)) return "bad --window";
  const int collision = static_cast<int>(CollisionNames().indexOf(parser.value(collision_)));
  if (collision < 0) return "bad --collision";
  k.collision = static_cast<TvxFileCollision>(collision);
  k.fixedTimeout = parser.isSet(fixed_timeout_);
  k.classic = parser.isSet(classic_);
  k.reliable = parser.isSet(reliable_);
  if (parser.isSet(prefix_all_) && parser.isSet(minimal_prefixing_))
    return "--prefix-all and --minimal-prefixing exclude each other";
  k.prefixing = parser.isSet(prefix_all_)          ? cpfAll
                : parser.isSet(minimal_prefixing_) ? cpfMinimal
                                                   : cpfPeerAware;
  if (parser.isSet(text_) && parser.isSet(auto_type_))
    return "--text and --auto-type exclude each other";
  k.fileType = parser.isSet(text_) ? ftText : parser.isSet(auto_type_) ? ftAuto : ftBinary;
  return {};
}

void ApplyLineSettings(TvxComm& comm, const TLineSettings& line) {
  comm.SetBaudRate(static_cast<Cardinal>(line.bps));
  comm.SetByteSize(static_cast<std::uint8_t>(line.dataBits));
  comm.SetParity(static_cast<TParity>(line.parity));
  comm.SetStopBits(static_cast<TStopBits>(line.stopBits));
  comm.SetStreamProtocol(static_cast<TStreamProtocol>(line.flow));
  comm.SetRestoreOnClose(!line.keepSettings);
}

void ApplyKermitSettings(TvxKermit& kermit, const TKermitSettings& k, int dataBits) {
  TvxKermitOptions o = k.classic ? TvxKermitOptions::Basic() : TvxKermitOptions::Extended();
  o.crc = k.check == 5 ? crc16bitForced : static_cast<TvxKermitCrc>(k.check - 1);
  o.adaptive_timeout = !k.fixedTimeout;
  // A line without an eighth data bit carries such bytes only with a prefix.
  if (dataBits < 8) o.eighth_bit_prefix = '&';
  if (k.packetLength > 0) o.max_long_packet_length = k.packetLength;
  o.streaming = k.reliable;
  if (!k.classic) {
    o.control_prefixing = k.prefixing;
    o.window_size = k.window;
  }
  o.file_type = static_cast<TvxKermitFileType>(k.fileType);
  // Classic or not, what arrives is stored in local form and checked, no server runs, and
  // one file of a batch that cannot be opened costs that file, not the rest.
  o.text_conversion = o.name_conversion = o.refuse_server_commands = o.check_lengths = true;
  o.skip_unreadable_files = true;
  kermit.SetOptions(o);
  kermit.SetTimeout(k.timeoutSec * 1000);
  kermit.SetRetryLimit(k.retryLimit);
  kermit.SetErrorLimit(k.errorLimit == 0 ? INT_MAX : k.errorLimit);
  kermit.SetFileCollision(k.collision);
}
