#include "support/zmodemskip.h"

#include <gtest/gtest.h>

#include "support/kermitfiles.h"

using namespace kermitfiles;

namespace zmodemskip {

namespace {

const std::size_t kSizes[kFiles] = {5000, 400 * 1024, 7000};

}  // namespace

std::string NameOf(std::size_t i) {
  return "s" + std::to_string(i) + ".bin";
}

std::vector<std::string> WriteBatch(const std::string& dir, unsigned seed) {
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < std::size(kSizes); ++i) {
    sent.push_back(RandomBytes(kSizes[i], seed + static_cast<unsigned>(i)));
    WriteAll(dir + "/" + NameOf(i), sent.back());
  }
  return sent;
}

std::string AllNames() {
  std::string names;
  for (std::size_t i = 0; i < std::size(kSizes); ++i) names += " " + NameOf(i);
  return names;
}

// Skips (SkipAll or not) on Side once the second file's data has begun to cross; true once done.
void SkipInSecondFile(ZModemSide& side, bool skipAll, bool& skipped) {
  side.zmodem.OnProgress = [&side, skipAll, &skipped](TObject*) {
    if (skipped || side.zmodem.FileName().find(NameOf(1)) == std::string::npos) return;
    if (side.zmodem.GetFilePosition() < 16 * 1024) return;
    skipped = true;
    side.zmodem.SkipFile(skipAll, true);
  };
}

// The first file (and the third unless Third is false) whole, nothing else in Dst.
void ExpectFirstAndThird(const std::string& dst, const std::vector<std::string>& sent, bool third) {
  EXPECT_TRUE(ReadAll(dst + "/" + NameOf(0)) == sent[0]);
  if (third) {
    EXPECT_TRUE(ReadAll(dst + "/" + NameOf(2)) == sent[2]);
  }
  std::vector<std::string> expected{NameOf(0)};
  if (third) expected.push_back(NameOf(2));
  EXPECT_EQ(EntriesOf(dst), expected);
}

bool EndedWith(const ZModemSide& side, int files) {
  return side.Ended() && side.last.ended && side.last.failure.empty() &&
         side.last.Files(foComplete) == files;
}

std::vector<TvxFileOutcome> Outcomes(const ZModemSide& side) {
  std::vector<TvxFileOutcome> outcomes;
  for (const TvxFileResult& f : side.files) outcomes.push_back(f.outcome);
  return outcomes;
}

}  // namespace zmodemskip
