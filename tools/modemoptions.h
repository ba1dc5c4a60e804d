// The options of vxmodem beside the line and log options: the protocol (XMODEM, YMODEM or
// ZMODEM),
// what each side of it chooses (1K blocks when sending XMODEM; the sum or CRC-16, padding
// stripped when receiving XMODEM; YMODEM-g when receiving YMODEM), the reply time-out, the
// retry and error limits and what a received file does to one of the same name. An option that does
// not apply to the command and protocol given is a usage error, never ignored.
//
// Thread: the program's main thread.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxftbase/collision.h"

namespace vxcomm {
class TvxCustomFileTransfer;
class TvxXModem;
class TvxYModem;
class TvxZModem;
}  // namespace vxcomm

// The protocols vxmodem speaks.
enum class TModemProtocol { kXModem, kYModem, kZModem };

// The settings as the options give them.
struct TModemSettings {
  TModemProtocol protocol = TModemProtocol::kYModem;  // --protocol: ymodem (the default)
  bool block1k = false;                               // sending XMODEM: 1024-byte blocks
  bool sum = false;           // receiving XMODEM: ask for the 8-bit sum, not CRC-16
  bool stripPadding = false;  // receiving XMODEM: SUB bytes ending the last block dropped
  bool streaming = false;     // receiving YMODEM: ask for YMODEM-g
  int timeoutSec = 10;
  int retryLimit = 10;  // tries for one block
  int errorLimit = 0;   // errors in the whole session; 0: no limit
  // What a received file does to one of the same name; backup by default, as in vxkermit.
  TvxFileCollision collision = fcBackup;

  // The protocol carries files' names and several files in one session (not XMODEM).
  bool Batch() const { return protocol != TModemProtocol::kXModem; }
};

// The options themselves, made once; a program adds All() to its parser.
class TModemOptions {
 public:
  TModemOptions();
  // --protocol, --1k, --crc, --sum, --strip-padding, -g/--streaming, --timeout,
  // --retry-limit, --error-limit, --collision.
  QList<QCommandLineOption> All() const;
  // Reads and checks the parsed values for a send (Sending) or a receive: empty when all are
  // good, else the usage error.
  std::string Read(const QCommandLineParser& parser, bool sending, TModemSettings& m) const;

 private:
  QCommandLineOption protocol_, block1k_, crc_, sum_, strip_padding_, streaming_, timeout_,
      retry_limit_, error_limit_, collision_;
};

// Gives Transfer the time-out, error limit and collision policy of M.
void ApplyModemSettings(TvxCustomFileTransfer& transfer, const TModemSettings& m);
// Gives XModem (YModem, ZModem) the choices of M besides.
void ApplyModemSettings(TvxXModem& xmodem, const TModemSettings& m);
void ApplyModemSettings(TvxYModem& ymodem, const TModemSettings& m);
void ApplyModemSettings(TvxZModem& zmodem, const TModemSettings& m);
