// The demo program: one window. Its one command-line option, --version, prints the version
// and exits before any window (or display) is needed.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "Unit1.h"
#include "vxcomm/platform/debugout.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/widgetuiservices.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("vurizoziza " VXCOMM_VERSION "\n");
    return 0;
  }
  QApplication application(argc, argv);
  // The components' debug lines (the log's loDebugOut copy among them) are the demo's.
  vxSetDebugOutputEnabled(true);
  TvxWidgetUIServices services;
  SetUIServices(&services);
  int result = 0;
  {
    TForm1 form1;
    form1.show();
    result = application.exec();
  }
  SetUIServices(nullptr);
  return result;
}
