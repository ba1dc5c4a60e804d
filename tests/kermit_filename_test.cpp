// File names across the line: the name an F packet carries for a file being sent, cut to
// the packet's room with its extension kept, and the name a received file is created under.
#include <gtest/gtest.h>

#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/filename.h"

using vxkermit::ReceivedFileName;
using vxkermit::SentFileName;

namespace {

struct SentCase {
  std::string path;
  std::size_t maxLength;
  std::string sent;
};

}  // namespace

TEST(KermitFileName, ASentNameIsCutInItsStemSoThatItsExtensionSurvives) {
  const std::string stem60(60, 'a');
  const SentCase cases[] = {
      // Names that fit go as they are, without their directory.
      {"/data/out/report.txt", 90, "report.txt"},
      {"report.txt", 10, "report.txt"},
      {"dir/", 90, ""},
      // The stem gives way; the last extension stays.
      {"/x/" + stem60 + ".txt", 20, std::string(16, 'a') + ".txt"},
      {stem60 + ".tar.gz", 30, std::string(27, 'a') + ".gz"},
      {"archive.tar.gz", 10, "archive.gz"},
      {"abcdef.", 4, "abc."},
      {"a.b.c.longname.ext", 12, "a.b.c.lo.ext"},
      // No extension, a leading dot, an extension over 16 bytes or one that leaves no stem:
      // a plain cut.
      {stem60, 10, std::string(10, 'a')},
      {"." + stem60, 10, std::string(".").append(9, 'a')},
      {stem60 + ".verylongextension", 30, std::string(30, 'a')},
      {"abcdef.0123456789abcde", 20, "abcd.0123456789abcde"},       // 16 bytes: kept
      {"abcdefghij.0123456789abcdef", 20, "abcdefghij.012345678"},  // 17 bytes: not
      {"abcdef.txt", 4, "abcd"},
      {"abcdef.txt", 3, "abc"},
      {"abcdef.txt", 0, ""},
      // Bytes, whatever the encoding: Latin-1 e-acute is one byte and cut as one.
      {"caf\xe9-" + stem60 + ".txt", 10, "caf\xe9-a.txt"},
      {"caf\xe9.txt", 8, "caf\xe9.txt"},
      // A UTF-8 character is never split: its bytes go whole or not at all.
      {"\xc3\xa9\xc3\xa9\xc3\xa9.txt", 9, "\xc3\xa9\xc3\xa9.txt"},
      {"\xc3\xa9\xc3\xa9\xc3\xa9.txt", 8, "\xc3\xa9\xc3\xa9.txt"},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 7, "\xe6\x97\xa5\xe6\x9c\xac"},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 5, "\xe6\x97\xa5"},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80", 7, "\xf0\x9f\x98\x80"},
      // ...unless nothing would be left before it.
      {"\xe6\x97\xa5.txt", 5, "\xe6.txt"},
      {"\xe6\x97\xa5\xe6\x9c\xac", 2, "\xe6\x97"},
      // Bytes that only look like a character's tail are cut where they stand.
      {"a\xfc\xb0\xb0\xb0\xb0z", 4, "a\xfc\xb0\xb0"},
      {"\xb0\xb0\xb0\xb0", 2, "\xb0\xb0"},
  };
  for (const SentCase& c : cases) {
    const std::string sent = SentFileName(c.path, c.maxLength);
    EXPECT_EQ(sent, c.sent) << "path \"" << c.path << "\" max " << c.maxLength;
    EXPECT_LE(sent.size(), c.maxLength) << c.path;
  }
}

TEST(KermitFileName, EveryCutFitsAndKeepsAShortExtension) {
  // Every length from nothing to the whole name, for names with and without extensions.
  const std::string names[] = {"report-2024-final.tar.gz", "README", ".profile-backup", "x.y",
                               "caf\xc3\xa9-\xc3\xa9t\xc3\xa9.txt"};
  for (const std::string& name : names) {
    for (std::size_t max = 0; max <= name.size() + 1; ++max) {
      const std::string sent = SentFileName("/d/" + name, max);
      EXPECT_LE(sent.size(), max) << name << " " << max;
      if (max >= name.size()) {
        EXPECT_EQ(sent, name);
      }
      if (max > 0) {
        EXPECT_FALSE(sent.empty()) << name << " " << max;
      }
      const std::size_t dot = name.rfind('.');
      if (dot != std::string::npos && dot > 0 && name.size() - dot < max) {
        EXPECT_EQ(sent.substr(sent.size() - (name.size() - dot)), name.substr(dot))
            << name << " " << max;
      }
    }
  }
}

TEST(KermitFileName, AReceivedNameStaysInsideTheReceivingDirectory) {
  const std::pair<std::string, std::string> cases[] = {
      {"report.txt", "report.txt"},
      {"/etc/passwd", "passwd"},
      {"../../up.txt", "up.txt"},
      {"C:\\DOS\\FILE.TXT", "FILE.TXT"},
      {"", "unnamed"},
      {".", "unnamed"},
      {"..", "unnamed"},
      {"dir/", "unnamed"},
      {std::string("ok.txt\0/../x", 12), "ok.txt"},
      {"caf\xe9.txt", "caf\xe9.txt"},  // bytes pass as they are
  };
  for (const auto& [sent, stored] : cases) EXPECT_EQ(ReceivedFileName(sent), stored) << sent;
}
