#include "percentile.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

double percentile(QVector<double> values, double fraction)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank.
    const int rank = int(std::ceil(fraction * values.size()));
    return values.at(qBound(0, rank - 1, values.size() - 1));
}
