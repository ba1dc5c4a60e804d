#include "vxcomm/widgets/terminalscreen.h"

#include <algorithm>

namespace vxcomm {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Far enough for any real screen; a cursor move never makes a line longer than this.
constexpr std::size_t kMaxColumns = 1024;
constexpr std::size_t kTabWidth = 8;
// Longer than any sequence a real peer sends: line noise that opened one cannot swallow
// the output that follows.
constexpr std::size_t kMaxSequence = 256;

}  // namespace

TvxTerminalScreen::TvxTerminalScreen(TTerminalEncoding encoding, int rows)
    : encoding_(encoding), rows_(static_cast<std::size_t>(std::max(rows, 1))), lines_(1) {}

void TvxTerminalScreen::Reset(std::u32string lastLine) {
  column_ = lastLine.size();
  lines_.assign(1, std::move(lastLine));
  top_ = row_ = 0;
  pending_ = 0;
  state_ = State::Text;
}

TvxScreenEdit TvxTerminalScreen::Feed(std::string_view bytes) {
  const std::size_t before = lines_.size();
  changed_ = {before, 0};
  bell_ = false;
  for (char byte : bytes) Decode(static_cast<unsigned char>(byte));
  // Empty lines below the cursor show nothing: they go, and come back when written to.
  while (lines_.size() > row_ + 1 && lines_.back().empty()) {
    lines_.pop_back();
    Changed(lines_.size(), 0);
  }
  TvxScreenEdit edit;
  if (changed_.first < before || lines_.size() != before) {
    // An edit starts on a line the pane has before and after it, so it never only removes or
    // only adds lines; a line before the first change is kept whole.
    const std::size_t first = std::min({changed_.first, before - 1, lines_.size() - 1});
    const std::size_t kept = first == changed_.first
                                 ? std::min(changed_.second, lines_[first].size())
                                 : lines_[first].size();
    edit.ReplacedLines = static_cast<int>(before - first);
    edit.KeptColumns = static_cast<int>(kept);
    edit.Lines.push_back(lines_[first].substr(kept));
    edit.Lines.insert(edit.Lines.end(), lines_.begin() + static_cast<std::ptrdiff_t>(first + 1),
                      lines_.end());
  }
  edit.CursorLine = static_cast<int>(lines_.size() - 1 - row_);
  edit.CursorColumn = static_cast<int>(column_);
  edit.Bell = bell_;
  // What scrolled off the screen is history now: the pane keeps it, the model no more.
  lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(top_));
  row_ -= top_;
  top_ = 0;
  return edit;
}

void TvxTerminalScreen::Decode(unsigned char byte) {
  if (encoding_ == teLatin1) {
    Take(byte);
    return;
  }
  if (pending_ > 0) {
    if ((byte & 0xC0) == 0x80) {
      code_ = (code_ << 6) | (byte & 0x3F);
      if (--pending_ == 0) {
        const bool valid =
            code_ >= least_ && code_ <= 0x10FFFF && (code_ < 0xD800 || code_ > 0xDFFF);
        Take(valid ? code_ : kReplacement);
      }
      return;
    }
    // A sequence broken off: it shows as one replacement, and this byte starts afresh.
    pending_ = 0;
    Take(kReplacement);
  }
  if (byte < 0x80) {
    Take(byte);
  } else if (byte >= 0xC2 && byte <= 0xDF) {
    code_ = byte & 0x1F, pending_ = 1, least_ = 0x80;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    code_ = byte & 0x0F, pending_ = 2, least_ = 0x800;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    code_ = byte & 0x07, pending_ = 3, least_ = 0x10000;
  } else {
    Take(kReplacement);
  }
}

void TvxTerminalScreen::Take(char32_t ch) {
  // Control characters act inside escape sequences too, as on a terminal; ESC and CAN/SUB
  // end a sequence.
  if (ch == 0x1B) {
    state_ = state_ == State::Osc ? State::OscEscape : State::Escape;
    return;
  }
  if (ch == 0x18 || ch == 0x1A) {
    state_ = State::Text;
    return;
  }
  if (state_ == State::Osc || state_ == State::OscEscape) {
    // An operating-system command (a window title and the like) ends with BEL or ESC \.
    if (ch == 0x07 || state_ == State::OscEscape || ++sequenceLength_ >= kMaxSequence)
      state_ = State::Text;
    return;
  }
  if (ch < 0x20) {
    Control(ch);
    return;
  }
  switch (state_) {
    case State::Text:
      Print(ch);
      break;
    case State::Escape:
      EscapeFinal(ch);
      break;
    case State::EscapeIntermediate:
      if (ch >= 0x30) state_ = State::Text;
      break;
    case State::Csi:
      CsiByte(ch);
      break;
    default:
      break;
  }
}

void TvxTerminalScreen::Control(char32_t ch) {
  switch (ch) {
    case '\r':
      column_ = 0;
      break;
    case '\n':
    case 0x0B:
    case 0x0C:
      NewLine();
      break;
    case '\b':
      if (column_ > 0) --column_;
      break;
    case '\t':
      column_ = std::min(kMaxColumns, (column_ / kTabWidth + 1) * kTabWidth);
      break;
    case 0x07:
      bell_ = true;
      break;
    default:  // NUL and the other controls show nothing
      break;
  }
}

void TvxTerminalScreen::Print(char32_t ch) {
  if (ch == 0x7F || (ch >= 0x80 && ch < 0xA0)) return;  // DEL and the C1 controls
  std::u32string& line = lines_[row_];
  Changed(row_, std::min(column_, line.size()));
  if (column_ < line.size())
    line[column_] = ch;
  else {
    line.resize(column_, U' ');
    line += ch;
  }
  ++column_;
}

void TvxTerminalScreen::EscapeFinal(char32_t ch) {
  if (ch == '[') {
    state_ = State::Csi;
    params_.clear();
    privateSequence_ = false;
  } else if (ch == ']') {
    state_ = State::Osc;
    sequenceLength_ = 0;
  } else if (ch < 0x30) {
    state_ = State::EscapeIntermediate;  // character set choices and the like: consumed
  } else {
    state_ = State::Text;  // any other two-byte sequence: consumed
  }
}

void TvxTerminalScreen::CsiByte(char32_t ch) {
  if (ch >= 0x30 && ch <= 0x3F) {
    if (params_.size() >= kMaxSequence)
      state_ = State::Text;
    else if (ch == ';' || (ch >= '0' && ch <= '9'))
      params_ += static_cast<char>(ch);
    else
      privateSequence_ = true;  // '?', '<', '=', '>' or ':'
  } else if (ch >= 0x20 && ch <= 0x2F) {
    privateSequence_ = true;
  } else {
    state_ = State::Text;
    if (ch >= 0x40 && ch <= 0x7E && !privateSequence_) ExecuteCsi(ch);
  }
}

int TvxTerminalScreen::Param(std::size_t index, int fallback) const {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = params_.find(';', start);
    if (start == std::string::npos) return fallback;
    ++start;
  }
  long value = 0;
  bool any = false;
  for (std::size_t i = start; i < params_.size() && params_[i] != ';'; ++i) {
    value = std::min<long>(value * 10 + (params_[i] - '0'), 1'000'000);
    any = true;
  }
  return any && value > 0 ? static_cast<int>(value) : fallback;
}

void TvxTerminalScreen::ExecuteCsi(char32_t final) {
  const std::size_t count = static_cast<std::size_t>(Param(0, 1));
  const std::size_t lastRow = top_ + rows_ - 1;
  switch (final) {
    case 'A':  // cursor up
      row_ = std::max(top_, row_ - std::min(count, row_));
      break;
    case 'B':  // cursor down
      GoToRow(std::min(lastRow, row_ + count));
      break;
    case 'C':  // cursor forward
      column_ = std::min(kMaxColumns, column_ + count);
      break;
    case 'D':  // cursor back
      column_ -= std::min(count, column_);
      break;
    case 'E':  // next line
      GoToRow(std::min(lastRow, row_ + count));
      column_ = 0;
      break;
    case 'F':  // previous line
      row_ = std::max(top_, row_ - std::min(count, row_));
      column_ = 0;
      break;
    case 'G':  // column
      column_ = std::min(kMaxColumns, count) - 1;
      break;
    case 'd':  // line
      GoToRow(top_ + std::min(rows_, count) - 1);
      break;
    case 'H':  // position
    case 'f':
      GoToRow(top_ + std::min(rows_, count) - 1);
      column_ = std::min<std::size_t>(kMaxColumns, static_cast<std::size_t>(Param(1, 1))) - 1;
      break;
    case 'K':
      EraseInLine(Param(0, 0));
      break;
    case 'J':
      EraseInDisplay(Param(0, 0));
      break;
    default:  // colours, modes and every other sequence: consumed
      break;
  }
}

void TvxTerminalScreen::NewLine() {
  GoToRow(row_ + 1);
  column_ = 0;
  if (row_ - top_ >= rows_) top_ = row_ - rows_ + 1;
}

void TvxTerminalScreen::GoToRow(std::size_t row) {
  while (lines_.size() <= row) lines_.emplace_back();
  row_ = row;
}

void TvxTerminalScreen::EraseInLine(int mode) {
  std::u32string& line = lines_[row_];
  if (mode == 0) {
    if (column_ >= line.size()) return;
    line.resize(column_);
    Changed(row_, column_);
    return;
  }
  if (mode == 1) {
    std::fill(line.begin(),
              line.begin() + static_cast<std::ptrdiff_t>(std::min(line.size(), column_ + 1)), U' ');
  } else if (mode == 2) {
    line.clear();
  } else {
    return;
  }
  Changed(row_, 0);
}

void TvxTerminalScreen::EraseInDisplay(int mode) {
  if (mode != 1) {  // below, and with 2 and 3 the whole screen
    if (lines_.size() > row_ + 1) Changed(row_ + 1, 0);
    lines_.resize(row_ + 1);
  }
  if (mode == 0) {
    EraseInLine(0);
    return;
  }
  for (std::size_t row = top_; row < row_; ++row) lines_[row].clear();
  if (top_ < row_) Changed(top_, 0);
  EraseInLine(mode == 1 ? 1 : 2);
}

void TvxTerminalScreen::Changed(std::size_t row, std::size_t column) {
  changed_ = std::min(changed_, std::pair{row, column});
}

}  // namespace vxcomm
