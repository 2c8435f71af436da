#pragma once

#include <QString>
#include <QVector>

#include <ctime>

// Monotonic clock in nanoseconds; the same clock in every process of the machine, so timestamps
// taken by a child process compare with ours.
inline qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Order statistics of one series of measurements.
struct Summary
{
    int count = 0;
    double min = 0;
    double median = 0;
    double p99 = 0;
    double p999 = 0; // p99.9
    double max = 0;

    bool isEmpty() const { return count == 0; }
};

// Median of an even count is the mean of the two middle values; p99 and p99.9 are nearest-rank
// values (the smallest sample that at least 99 % or 99.9 % of the samples do not exceed).
Summary summarize(QVector<double> samples);

// The ratios a[i] / b[i] of two series measured in pairs. A pair with a negative a (nothing
// measured) or a b that is not positive is left out.
QVector<double> pairedRatios(const QVector<double> &a, const QVector<double> &b);

// Element-wise a - b of two summaries (count is the smaller one); for "ours minus floor".
Summary difference(const Summary &a, const Summary &b);
