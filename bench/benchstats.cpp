#include "benchstats.h"

#include <algorithm>
#include <cmath>

Summary summarize(QVector<double> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.isEmpty())
        return s;
    std::sort(samples.begin(), samples.end());
    const int n = samples.size();
    s.min = samples.first();
    s.max = samples.last();
    s.median = n % 2 ? samples.at(n / 2) : (samples.at(n / 2 - 1) + samples.at(n / 2)) / 2;
    auto nearestRank = [&samples, n](double share) {
        const int rank = int(std::ceil(share * n));
        return samples.at(qBound(0, rank - 1, n - 1));
    };
    s.p99 = nearestRank(0.99);
    s.p999 = nearestRank(0.999);
    return s;
}

Summary difference(const Summary &a, const Summary &b)
{
    Summary d;
    d.count = qMin(a.count, b.count);
    if (d.count == 0)
        return d;
    d.min = a.min - b.min;
    d.median = a.median - b.median;
    d.p99 = a.p99 - b.p99;
    d.p999 = a.p999 - b.p999;
    d.max = a.max - b.max;
    return d;
}

QVector<double> pairedRatios(const QVector<double> &a, const QVector<double> &b)
{
    QVector<double> ratios;
    for (int i = 0; i < qMin(a.size(), b.size()); ++i) {
        if (a.at(i) >= 0 && b.at(i) > 0)
            ratios.append(a.at(i) / b.at(i));
    }
    return ratios;
}
