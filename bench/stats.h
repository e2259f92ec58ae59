#pragma once
// Order statistics for the benchmarks.

#include <QString>
#include <QVector>
#include <algorithm>
#include <cmath>

struct Figures
{
    double median = 0;
    double p99 = 0;
    double max = 0;
    int count = 0;
};

inline Figures figuresOf(QVector<double> values)
{
    Figures f;
    f.count = int(values.size());
    if (values.isEmpty())
        return f;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        const int i = std::min(int(values.size()) - 1, int(std::ceil(q * values.size())) - 1);
        return values.at(std::max(0, i));
    };
    f.median = at(0.5);
    f.p99 = at(0.99);
    f.max = values.last();
    return f;
}

inline QString describe(const Figures &f)
{
    return QStringLiteral("median %1  p99 %2  max %3  (n=%4)")
        .arg(f.median, 8, 'f', 3)
        .arg(f.p99, 8, 'f', 3)
        .arg(f.max, 8, 'f', 3)
        .arg(f.count);
}
