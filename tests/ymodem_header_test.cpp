// YMODEM's block 0 as this library writes and reads it: name, NUL, decimal length, space,
// octal time; an empty name ends the batch; malformed fields are refused, not guessed.
#include <gtest/gtest.h>

#include <string>

#include "vxcomm/vxymodem/header.h"

using namespace vxcomm::vxymodem;

namespace {

std::optional<THeader> Parse(const std::string& text) {
  return ParseHeader(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Name, NUL, then Rest.
std::string Block0(const std::string& name, const std::string& rest) {
  return name + std::string(1, '\0') + rest;
}

std::string Text(const std::vector<std::uint8_t>& data) {
  return std::string(data.begin(), data.end());
}

}  // namespace

TEST(YModemHeader, WritesNameLengthAndOctalTime) {
  EXPECT_EQ(Text(HeaderData("/some/dir/foo.c", 1234, 0755)), Block0("foo.c", "1234 755"));
  EXPECT_EQ(Text(HeaderData("empty", 0, -1)), Block0("empty", "0 0"));
}

TEST(YModemHeader, LongNameFitsOneBlock) {
  const std::vector<std::uint8_t> data = HeaderData(std::string(3000, 'n'), 1, 1);
  EXPECT_LE(data.size(), 1024u);
  const auto header = ParseHeader(data.data(), data.size());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->length, 1);
}

TEST(YModemHeader, ReadsWhatItWrites) {
  const std::vector<std::uint8_t> data = HeaderData("a b.txt", 100000, 1700000000);
  std::vector<std::uint8_t> block(data);
  block.resize(128, 0);
  const auto header = ParseHeader(block.data(), block.size());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->name, "a b.txt");
  EXPECT_EQ(header->length, 100000);
  EXPECT_EQ(header->modified, 1700000000);
}

TEST(YModemHeader, FieldsAfterTheTimeAndMissingFields) {
  auto h = Parse(Block0("x", "12 17 100644 0") + std::string(10, '\0'));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->length, 12);
  EXPECT_EQ(h->modified, 15);
  h = Parse(Block0("x", "12") + std::string(10, '\0'));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->length, 12);
  EXPECT_EQ(h->modified, -1);
  h = Parse(Block0("x", std::string(2, '\0')));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->length, -1);
  EXPECT_EQ(h->modified, -1);
}

TEST(YModemHeader, EmptyNameEndsTheBatch) {
  const auto h = Parse(std::string(128, '\0'));
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->name.empty());
}

TEST(YModemHeader, MalformedFieldsAreRefused) {
  EXPECT_FALSE(Parse(Block0("x", "12a 17")));
  EXPECT_FALSE(Parse(Block0("x", "12 18")));
  EXPECT_FALSE(Parse(Block0("x", "-5 17")));
  EXPECT_FALSE(Parse(Block0("x", "99999999999999999999999 1")));
}

TEST(YModemHeader, FieldsUpTo2To62) {
  const auto h = Parse(Block0("x", "4611686018427387904 1"));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->length, std::int64_t{1} << 62);
  EXPECT_FALSE(Parse(Block0("x", "4611686018427387905 1")));
  EXPECT_FALSE(Parse(Block0("x", "1 400000000000000000001")));
}
