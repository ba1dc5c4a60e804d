// The line options (speed, framing, flow control, keeping the settings) and the Kermit options
// (block check, time-out, limits, packet length, window, --classic, --reliable, prefixing,
// --collision) that the command-line programs share: their definitions for QCommandLineParser,
// their checks, and how they are applied to the serial and Kermit components.
//
// Thread: the program's main thread.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase/collision.h"
#include "vxcomm/vxkermit.h"

namespace vxcomm {
class TvxComm;
}  // namespace vxcomm

// The line settings as the options give them; indexes follow the components' enumerations.
struct TLineSettings {
  int bps = 115200;
  int dataBits = 8;
  int parity = 0;             // none, odd, even, mark, space
  int stopBits = 0;           // 1, 1.5, 2
  int flow = 0;               // none, xonxoff, hardware
  bool keepSettings = false;  // leave the device with our settings at the end
};

// The Kermit settings as the options give them.
struct TKermitSettings {
  int check = 3;
  int timeoutSec = 5;
  bool fixedTimeout = false;
  int retryLimit = 10;
  int errorLimit = 0;    // 0: no limit
  int packetLength = 0;  // 0: the default, 9024
  int window = 31;       // most packets in flight offered; 1: no window
  bool classic = false;
  bool reliable = false;
  // Minimal prefixing only with a peer known to take control characters bare.
  TvxControlPrefixing prefixing = cpfPeerAware;
  int fileType = 0;  // as TvxKermitFileType: binary, text, auto
  // What a received file does to one of the same name; --collision, backup by default.
  TvxFileCollision collision = fcBackup;
};

// The options themselves, made once; a program adds Line() and Kermit() to its parser.
class TLineOptions {
 public:
  TLineOptions();
  // --speed, --data-bits, --parity, --stop-bits, --flow, --keep-settings.
  QList<QCommandLineOption> Line() const;
  // --check, --timeout, --fixed-timeout, --retry-limit, --error-limit, --packet-length,
  // --window, --classic, --reliable, --prefix-all, --minimal-prefixing, --text, --auto-type,
  // --collision.
  QList<QCommandLineOption> Kermit() const;
  // Reads and checks the parsed values: empty when all are good, else the usage error
  // ("bad --speed").
  std::string Read(const QCommandLineParser& parser, TLineSettings& line,
                   TKermitSettings& kermit) const;
  // The same for Line() alone, for a program without Kermit.
  std::string ReadLine(const QCommandLineParser& parser, TLineSettings& line) const;

 private:
  QCommandLineOption speed_, data_bits_, parity_, stop_bits_, flow_, keep_settings_;
  QCommandLineOption check_, timeout_, fixed_timeout_, retry_limit_, error_limit_;
  QCommandLineOption packet_length_, window_, classic_, prefix_all_, minimal_prefixing_, reliable_;
  QCommandLineOption text_, auto_type_, collision_;
};

// The names --parity, --stop-bits and --flow take, in the order of the components'
// enumerations (TParity, TStopBits, TStreamProtocol).
const QStringList& ParityNames();
const QStringList& StopBitsNames();
const QStringList& FlowNames();

// Decimal Text within Low..High into Out; false (Out untouched) otherwise.
bool ParseNumber(const QString& text, int low, int high, int& out);

// Gives Comm the speed, framing and flow control of Line, applied at once when open, and
// whether its close puts the device's own settings back.
void ApplyLineSettings(TvxComm& comm, const TLineSettings& line);

// Gives Kermit the settings of K for a line of DataBits in one SetOptions: the extended
// protocol (TvxKermitOptions::Extended) unless classic, the basic one then; the longest
// packet defaults to 9024 bytes. Received text and converted names are stored in local form,
// lengths checked and server commands refused, and a listed file that cannot be opened is
// skipped while the batch goes on, classic or not.
void ApplyKermitSettings(TvxKermit& kermit, const TKermitSettings& k, int dataBits);
