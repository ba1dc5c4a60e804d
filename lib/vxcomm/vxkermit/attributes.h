// The attribute (A) packet's data field: entries of letter, tochar(length), value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxcomm {

namespace vxkermit {

// This side's attributes for a file of Size bytes: the length in K, "!", as Size div 1024 + 1;
// with Exact also the length in bytes, "1"; with Modified at 0 or above also the file's date,
// "#", from those seconds since the epoch, in local time as "yyyymmdd hh:mm:ss"; with Recover
// also the disposition "+" with "R", which asks the receiver to append to what it holds.
std::string BuildAttributes(std::int64_t size, bool exact = false, std::int64_t modified = -1,
                            bool recover = false);

// How a file's data crosses, as the file-type attribute ('"') gives it.
enum class TFileType : std::uint8_t {
  Unknown,  // no type given (or one this side does not know)
  Binary,   // "B": the bytes as they are
  Text      // "A": text in Kermit's canonical form, lines ended by CR LF
};

// The entry that says what kind of system sends the file: the system ID "." (kUnixSystemId).
std::string SystemIdAttribute();

// The entry that says how the file's data crosses: the file type '"', "AMJ" for text
// (lines end with CR, LF) or "B8" for binary (8-bit bytes).
std::string FileTypeAttribute(bool text);

// The file type of a data field: Text for a '"' entry that begins with "A", Binary for one
// that begins with "B" or "I" (image), else Unknown.
TFileType FileTypeOf(const std::uint8_t* field, std::size_t len);

// The seconds since the epoch of a date attribute "[yy]yymmdd[ hh:mm[:ss]]" in local time
// (a two-digit year is 19yy), or -1 when Text is not such a date.
std::int64_t ParseAttributeDate(const std::string& text);

// The value of the first entry with Letter in a data field, empty when there is none. The
// walk stops at the field's end or at a length character of 32 or below.
std::string GetAttribute(const std::uint8_t* field, std::size_t len, char letter);

// The announced size of a file in bytes: the exact length "1" when given, else the length
// in K "!" (0 when missing or not a number) times 1024 plus 1; past 2^62 it stays there.
std::int64_t AnnouncedSize(const std::uint8_t* field, std::size_t len);

// The length in K "!" of a data field; -1 when it is missing or not a number.
std::int64_t SizeInK(const std::uint8_t* field, std::size_t len);

// What arrived for a file, to be held against the lengths its A packet announced.
struct TArrived {
  std::int64_t stored = 0;  // the bytes the file holds
  bool text = false;        // stored converted from canonical text
  std::int64_t wire = 0;    // text: the canonical bytes that crossed
  std::int64_t wireLf = 0;  // text: the line feeds among them
};

// Whether Arrived agrees with an announced exact length Exact ("1", -1 when not given) and
// length in K ("!", -1 when not given). A binary file's bytes must equal Exact, or without
// it lie within the K announced (more than K - 2 and at most K whole K, as senders round
// up or add one). A file stored as text cannot be held to it byte for byte: it agrees when
// Exact is its canonical length, that length less one CR per line (the sender's Unix length,
// as standard peers announce it) or what was stored; its K is not checked. Nothing
// announced always agrees.
bool LengthAgrees(std::int64_t exact, std::int64_t k, const TArrived& arrived);

// The exact length "1" of a data field in bytes; -1 when it is missing or not a number.
std::int64_t ExactSize(const std::uint8_t* field, std::size_t len);

// True when the field's disposition "+" is "R": the sender resends, and the receiver appends
// to the file it holds from the length it reports.
bool AsksRecovery(const std::uint8_t* field, std::size_t len);

// The data field of the acknowledgement a recovering receiver gives an A packet: the bytes
// it holds as an exact length, "1", tochar(digits), the decimal digits.
std::string HeldLengthReply(std::int64_t held);

// The length a receiver reports in its acknowledgement of an A packet (Len bytes of Data):
// the exact length "1" among the field's entries, after an optional leading "Y"; 0 for a
// field without one and for "-1" (a receiver that holds no such file); -1 for a field that
// is not a walk of whole entries, or a "1" that is none of these nor a decimal number of 1
// to 18 digits.
std::int64_t ReadHeldLength(const std::uint8_t* data, std::size_t len);

}  // namespace vxkermit

}  // namespace vxcomm
