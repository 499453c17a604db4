#ifndef PERCENTILE_H
#define PERCENTILE_H

#include <QVector>

// The value at a fraction (0 to 1) of the sorted values, by nearest rank; 0 for none.
double percentile(QVector<double> values, double fraction);

#endif // PERCENTILE_H
