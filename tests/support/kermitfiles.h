// Files for Kermit tests: the standard set (empty, text, every byte value, random) and
// helpers to write, read and compare them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kermitfiles {

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Deterministic random bytes.
std::string RandomBytes(std::size_t size, unsigned seed);
// Every byte value 0..255, Repeat times over.
std::string EveryByte(int repeat = 4);
std::string Text();

// Writes the set into Dir and returns the names: empty.dat, text.txt, allbytes.bin and
// random.bin of RandomSize bytes.
std::vector<std::string> WriteStandardSet(const std::string& dir, std::size_t randomSize);
// Dir + "/" + each of Names.
std::vector<std::string> PathsIn(const std::string& dir, const std::vector<std::string>& names);
// Every entry of Dir, hidden ones included, in name order; links are not followed.
std::vector<std::string> EntriesOf(const std::string& dir);

// The bytes of S as the engine's functions take them.
inline const std::uint8_t* U(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

}  // namespace kermitfiles
