#include "rtl/uiservices.h"

#include <cstdio>

#include "rtl/textview.h"

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

TvxUIServices& UIServices() {
  return *installed;
}

void SetUIServices(TvxUIServices* services) {
  installed = services ? services : &headless;
}
