/// @file
/// The screen of a terminal pane as a model of its text: fed the received bytes, it decodes
/// them (UTF-8 or Latin-1, a character split over two feeds included), acts on control
/// characters and escape sequences as a terminal does, and says which last lines of the pane
/// change and where its cursor goes. It knows nothing of widgets; a text view applies it.
///
/// The pane is a list of lines; the last Rows of them (or fewer) are the screen that cursor
/// moves reach, the lines above it are history that output never changes again. Lines have
/// no width limit (the view wraps them).
///
/// Thread: one owner at a time (the view's thread).
#pragma once

#include "vxcomm/widgets/vxcommwidgets_export.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vxcomm/rtl/textview.h"

namespace vxcomm {

/// What a feed changes in the pane: of the last ReplacedLines lines of the pane the first
/// keeps its first KeptColumns characters, and what follows them becomes Lines (none replaced
/// and no lines when only the cursor moved); then the cursor is on the line CursorLine lines
/// above the last one, at CursorColumn. A long line growing costs only its new part.
struct VXCOMMWIDGETS_EXPORT TvxScreenEdit {
  int ReplacedLines = 0;
  int KeptColumns = 0;
  std::vector<std::u32string> Lines;
  int CursorLine = 0;    ///< 0: the last line of the pane
  int CursorColumn = 0;  ///< may lie beyond the end of its line
  bool Bell = false;     ///< a BEL was received
};

/// The terminal screen model (see the file description).
class VXCOMMWIDGETS_EXPORT TvxTerminalScreen {
 public:
  /// A screen of Rows lines whose bytes are in Encoding, over a pane that is empty.
  explicit TvxTerminalScreen(TTerminalEncoding encoding = teUtf8, int rows = 24);
  /// Starts afresh over a pane whose last line is LastLine, the cursor just after it; a
  /// character half received is dropped.
  void Reset(std::u32string lastLine);
  /// Takes received bytes and returns what they change in the pane.
  TvxScreenEdit Feed(std::string_view bytes);
  /// The text of the line the cursor is on.
  const std::u32string& CursorLine() const { return lines_[row_]; }

 private:
  enum class State { Text, Escape, EscapeIntermediate, Csi, Osc, OscEscape };

  void Decode(unsigned char byte);
  void Take(char32_t ch);
  void Control(char32_t ch);
  void Print(char32_t ch);
  void EscapeFinal(char32_t ch);
  void CsiByte(char32_t ch);
  void ExecuteCsi(char32_t final);
  int Param(std::size_t index, int fallback) const;
  void NewLine();
  void GoToRow(std::size_t row);
  void EraseInLine(int mode);
  void EraseInDisplay(int mode);
  void Changed(std::size_t row, std::size_t column);

  TTerminalEncoding encoding_;
  std::size_t rows_;
  std::vector<std::u32string> lines_;  ///< the screen; during a feed also what scrolled off it
  std::size_t top_ = 0;                ///< index in lines_ of the screen's first line
  std::size_t row_ = 0;                ///< the cursor's line, index in lines_
  std::size_t column_ = 0;
  /// The first place (line, column) changed by the running feed.
  std::pair<std::size_t, std::size_t> changed_;
  bool bell_ = false;

  // UTF-8 decoder between feeds.
  char32_t code_ = 0;
  int pending_ = 0;  ///< continuation bytes still expected
  char32_t least_ = 0;

  State state_ = State::Text;
  std::string params_;
  std::size_t sequenceLength_ = 0;  ///< characters of the running operating-system command
  bool privateSequence_ = false;    ///< the CSI had intermediates or a private marker
};

}  // namespace vxcomm
