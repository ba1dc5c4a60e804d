/// @file
/// What the Kermit component offers a peer and how it treats files, as one value
/// (TvxKermitOptions), with the basic protocol and our programs' extended protocol as presets.
///
/// Thread: a plain value; any thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>

#include "vxcomm/vxkermit/sendinit.h"
#include "vxcomm/vxkermit/sendwindow.h"

namespace vxcomm {

/// The block check this side proposes: types 1, 2 and 3.
enum TvxKermitCrc : std::uint8_t {
  crc6bit = 0,   ///< type 1: a 6-bit checksum, one character
  crc12bit = 1,  ///< type 2: a 12-bit checksum, two characters
  crc16bit = 2,  ///< type 3: a 16-bit CRC, three characters
  /// force-3 (CHKT "5"): the type 3 CRC on every packet, the Send-Init and its answer
  /// included, for a peer that is set to take nothing else
  crc16bitForced = 3
};

/// How files are sent: as their bytes are, as text, or each as its content suggests.
enum TvxKermitFileType : std::uint8_t {
  ftBinary = 0,  ///< every file byte for byte (the default)
  ftText = 1,    ///< every file as text: lines ended by CR LF on the line, as Kermit has it
  /// binary to a like system (a peer that names itself a Unix system in its Send-Init);
  /// otherwise text for a file whose start looks like text, binary for any other
  ftAuto = 2
};

/// Which control characters the data this side sends keeps behind the control prefix.
enum TvxControlPrefixing : std::uint8_t {
  /// Every control character, as the basic protocol has it.
  cpfAll = 0,
  /// Only those a line or a receiver acts on (NUL, SOH, Ctrl-D, LF, CR, XON, XOFF, Ctrl-U, DEL
  /// and 255; see vxkermit::KeepsControlPrefix), with any peer.
  cpfMinimal = 1,
  /// As cpfMinimal with a peer whose Send-Init shows a full Kermit program, which takes a data
  /// field by its length (see vxkermit::TakesBareControls); as cpfAll with any other peer: a
  /// bootloader's receiver acts on the control characters it meets.
  cpfPeerAware = 2
};

/// The settings of a TvxKermit that decide what it offers a peer and how it sends and stores
/// files: the value behind its properties (each property of the same name reads and writes
/// one field; see there for what it does). The file-transfer base's settings (Timeout,
/// RetryLimit, ErrorLimit, FileCollision, DefaultPath) are not part of it.
struct VXCOMM_EXPORT TvxKermitOptions {
  TvxKermitCrc crc = crc6bit;            ///< Crc
  std::uint8_t eighth_bit_prefix = 'Y';  ///< EighthBitPrefix
  bool adaptive_timeout = false;         ///< AdaptiveTimeout
  bool long_packets = false;             ///< LongPackets
  int max_long_packet_length = static_cast<int>(vxkermit::kMaxLongPacketLength);  ///< 95..9024
  bool repeat_counts = false;                                                     ///< RepeatCounts
  std::uint8_t repeat_prefix = vxkermit::kDefaultRepeatPrefix;                    ///< RepeatPrefix
  bool exact_length = false;                                                      ///< ExactLength
  bool file_dates = false;                                                        ///< FileDates
  TvxControlPrefixing control_prefixing = cpfAll;  ///< ControlPrefixing
  bool streaming = false;                          ///< Streaming
  bool recovery = false;                           ///< Recovery
  int window_size = 1;                             ///< WindowSize: 1..vxkermit::kMaxWindow
  bool describe_system = false;                    ///< DescribeSystem
  TvxKermitFileType file_type = ftBinary;          ///< FileType
  bool text_conversion = false;                    ///< TextConversion
  bool name_conversion = false;                    ///< NameConversion
  bool refuse_server_commands = false;             ///< RefuseServerCommands
  bool check_lengths = false;                      ///< CheckLengths
  bool skip_unreadable_files = false;              ///< SkipUnreadableFiles

  /// The basic protocol: the component's defaults, its Send-Init the classic one.
  static TvxKermitOptions Basic() { return {}; }
  /// Everything our programs turn on: block check type 3, the reply time-out following the
  /// line, long packets up to 9024 bytes, repeat counts, exact lengths, file dates, bare
  /// control characters with a full Kermit peer, recovery, a window of 31, this side described
  /// as a Unix system, received text and converted names stored in local form, server
  /// commands refused, lengths checked and a listed file that cannot be opened skipped. Each
  /// extension is used only when the peer agrees. Streaming stays off: declare it only for a link
  /// that loses nothing.
  static TvxKermitOptions Extended();
  /// These options with the protocol of Preset: what is offered the peer (block check, reply
  /// time-out, long packets, repeat counts, exact lengths, dates, control prefixing, recovery,
  /// window, the description of this side) from Preset, how files are sent and stored (file
  /// type, conversions, server commands, length checks, unreadable files, the eighth-bit
  /// prefix, streaming) kept.
  TvxKermitOptions WithProtocolOf(const TvxKermitOptions& preset) const;
  /// Max long packet length and window size brought into their ranges.
  TvxKermitOptions Clamped() const;

  /// Field by field.
  bool operator==(const TvxKermitOptions&) const = default;
};

}  // namespace vxcomm
