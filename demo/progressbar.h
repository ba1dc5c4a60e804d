// The demo's progress bar: a QProgressBar that shows a range without a maximum (a transfer
// of nothing yet) as an empty bar, where Qt would show its busy animation.
#pragma once

#include <QProgressBar>

class TDemoProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  using QProgressBar::QProgressBar;

 public slots:
  // Found by name before the base's slot, so posted ranges land here.
  void setRange(int minimum, int maximum);
  void setMaximum(int maximum) { setRange(minimum(), maximum); }
};
