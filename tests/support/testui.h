// UI services for tests: record what would have been shown and answer dialogs for the user.
// Installed for the lifetime of the object; the widgets layer's text-view bindings stay real.
#pragma once

#include <string>
#include <vector>

#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/widgetuiservices.h"

class TvxTestUIServices : public TvxWidgetUIServices {
 public:
  TvxTestUIServices() { SetUIServices(this); }
  ~TvxTestUIServices() override { SetUIServices(nullptr); }
  TvxTestUIServices(const TvxTestUIServices&) = delete;
  TvxTestUIServices& operator=(const TvxTestUIServices&) = delete;

  void ShowError(const std::string& text, const std::string& caption) override {
    errors.push_back(caption + ": " + text);
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowException(const std::exception& error) override { exceptions.push_back(error.what()); }
  bool EditLineSettings(const std::string& device, TvxLineSettings& settings) override {
    dialogDevices.push_back(device);
    if (acceptDialog) settings = dialogAnswer;
    return acceptDialog;
  }

  std::vector<std::string> errors, messages, exceptions, dialogDevices;
  bool acceptDialog = false;
  TvxLineSettings dialogAnswer;
};
