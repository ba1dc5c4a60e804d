#include "support/ymodemfeed.h"

#include "vxcomm/vxxmodem/block.h"

YModemFeed::YModemFeed(const std::string& dir) {
  ymodem.SetActive(true);
  ymodem.SetTimeout(600000);
  ymodem.SetDefaultPath(dir);
  ymodem.OnDataSend = [this](TObject*, const void* data, Cardinal len, bool, bool& handled) {
    answers.append(static_cast<const char*>(data), len);
    handled = true;
  };
  ymodem.OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg, bool& raise) {
    raise = false;
    fatal.push_back(msg);
  };
  ymodem.OnFileResult = [this](TObject*, const TvxFileResult& r) { files.push_back(r); };
}

void YModemFeed::Feed(const std::string& bytes) {
  ymodem.DataReceived(bytes.data(), static_cast<Cardinal>(bytes.size()));
}

int YModemFeed::Complete() const {
  int complete = 0;
  for (const TvxFileResult& r : files) complete += r.outcome == foComplete;
  return complete;
}

std::string Block(std::uint8_t number, const std::string& data, std::uint8_t fill) {
  using namespace vxcomm::vxxmodem;
  const std::size_t size = data.size() > kShortBlock ? kLongBlock : kShortBlock;
  const std::vector<std::uint8_t> frame = FrameBlock(
      number, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), size, true, fill);
  return std::string(frame.begin(), frame.end());
}

std::string HeaderBlock(const std::string& name, const std::string& fields) {
  return Block(0, name + std::string(1, '\0') + fields, 0);
}
