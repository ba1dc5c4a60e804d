// The batch of the ZMODEM skip tests: three files, the second large enough that its data is
// still crossing when a side skips it, and the checks of what the receiving directory holds.
#pragma once

#include <string>
#include <vector>

#include "support/zmodemside.h"

namespace zmodemskip {

// Three files, the second large enough that its data is still crossing when a side skips it.
inline constexpr std::size_t kFiles = 3;

// The name of file I of the batch.
std::string NameOf(std::size_t i);
// Writes the batch into Dir from Seed; returns the contents.
std::vector<std::string> WriteBatch(const std::string& dir, unsigned seed);
// The batch's names, each after a space.
std::string AllNames();
// Skips (SkipAll or not) on Side once the second file's data has begun to cross; Skipped
// reads true once done.
void SkipInSecondFile(ZModemSide& side, bool skipAll, bool& skipped);
// The first file (and the third unless Third is false) whole in Dst as Sent, nothing else.
void ExpectFirstAndThird(const std::string& dst, const std::vector<std::string>& sent,
                         bool third = true);
// Side's session ended by the protocol, with no failure, Files files complete (the others
// skipped: the session is not Ok).
bool EndedWith(const ZModemSide& side, int files);
// Every file result of Side's sessions, in order.
std::vector<TvxFileOutcome> Outcomes(const ZModemSide& side);

}  // namespace zmodemskip
