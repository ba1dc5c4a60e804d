#include "progressbar.h"

void TDemoProgressBar::setRange(int minimum, int maximum) {
  if (maximum <= minimum) {
    // min == max would animate as "busy": show an empty bar instead.
    QProgressBar::setRange(minimum, minimum + 1);
    QProgressBar::setValue(minimum);
    return;
  }
  QProgressBar::setRange(minimum, maximum);
}
