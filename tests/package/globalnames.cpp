// A program's own names, the ones the library once put in the global namespace: declared
// first, then every installed header is included (ALL_INSTALLED_HEADERS, a file of #include
// lines), then both are used. It compiles only while the library keeps to its namespace.
#include <cstdint>

struct Exception {
  int code = 0;
};
struct TObject {};
struct TPersistent {};
struct TThread {};
struct TComponent {};
struct TStringList {};
struct EConvertError {};
int Format(int x) {
  return x + 1;
}
using Cardinal = std::uint8_t;
using HKEY = double;
enum LegacyParity { pNone = 5, pEven };
constexpr int INVALID_HANDLE_VALUE = 42;
constexpr int EV_RXCHAR = 3;

#include ALL_INSTALLED_HEADERS

int main() {
  static_assert(sizeof(Cardinal) == 1 && sizeof(HKEY) == sizeof(double));
  static_assert(pNone == 5 && INVALID_HANDLE_VALUE == 42 && EV_RXCHAR == 3);
  static_assert(vxcomm::EV_RXCHAR != EV_RXCHAR && vxcomm::INVALID_HANDLE_VALUE != 42);
  vxcomm::TvxComm* port = nullptr;  // the library's own names, qualified
  Exception mine;
  return mine.code + Format(-1) + (port == nullptr ? 0 : 1);
}
