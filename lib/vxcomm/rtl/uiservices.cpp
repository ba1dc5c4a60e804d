#include "vxcomm/rtl/uiservices.h"

#include <cstdio>

#include "vxcomm/rtl/sysutils.h"
#include "vxcomm/rtl/textview.h"

namespace vxcomm {

namespace {
TvxUIServices headless;
TvxUIServices* installed = &headless;
}  // namespace

void TvxUIServices::ShowError(const std::string& text, const std::string& caption) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void TvxUIServices::ShowMessage(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void TvxUIServices::ShowException(const std::exception& error) {
  std::fprintf(stderr, "Exception: %s\n", error.what());
}

bool TvxUIServices::EditLineSettings(const std::string&, TvxLineSettings&) {
  return false;
}

std::unique_ptr<TvxTextView> TvxUIServices::BindTextView(QObject*) {
  return nullptr;
}

void TvxUIServices::CheckTextView(QObject*) {}

TvxUIServices& UIServices() {
  return *installed;
}

void SetUIServices(TvxUIServices* services) {
  installed = services ? services : &headless;
}

void ShowCurrentException() {
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      UIServices().ShowException(error);
    } catch (...) {
      UIServices().ShowException(Exception("Unknown exception"));
    }
  } catch (...) {
    // The display itself failed: there is nothing left to show it with.
  }
}

}  // namespace vxcomm
