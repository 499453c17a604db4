#ifndef TRENDPAINT_H
#define TRENDPAINT_H

// What a paint of the trend costs the GUI thread: a 1000×660 trend window over 24 hours of
// history, painted at 10 minutes, 1 hour and 24 hours across, in CPU ms per paint. Needs a
// QApplication.
void printTrendPaint();

#endif // TRENDPAINT_H
