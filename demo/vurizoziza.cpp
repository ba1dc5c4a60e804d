// The demo program: one window, no command line.
#include <QApplication>

#include "Unit1.h"
#include "platform/debugout.h"
#include "widgetuiservices.h"

int main(int argc, char** argv) {
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
