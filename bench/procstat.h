#pragma once

#include <QString>

#include <sys/types.h>

// What /proc tells about one running process.
struct ProcSample
{
    bool valid = false;
    double cpuSeconds = 0; // user + system time of all its threads, living and ended
    qint64 rssKb = 0;      // resident set now
    qint64 peakRssKb = 0;  // high-water mark of the resident set
};

ProcSample sampleProcess(pid_t pid);

// CPU time of the whole process (every thread, living and ended) from its CPU-time clock, to the
// nanosecond; -1 when the clock cannot be read. /proc's utime and stime come in 10 ms ticks, too
// coarse for a process that spends a fraction of a millisecond a second.
double processCpuSeconds(pid_t pid);

// The whole machine, from /proc/stat's "cpu" line: jiffies busy (everything but idle and iowait)
// and in all, summed over every core.
struct MachineCpu
{
    bool valid = false;
    qint64 busy = 0;
    qint64 total = 0;
};
MachineCpu sampleMachineCpu();
// Busy share of all cores between two samples, in %; -1 when nothing can be said.
double busyPercent(const MachineCpu &from, const MachineCpu &to);
// The 1-minute load average; -1 when unknown.
double loadAverage();

// Parsers of the two files, for the sampler and its tests. ticksPerSecond is sysconf(_SC_CLK_TCK).
bool parseStatCpu(const QByteArray &stat, long ticksPerSecond, double *cpuSeconds);
bool parseStatusMemory(const QByteArray &status, qint64 *rssKb, qint64 *peakRssKb);
MachineCpu parseMachineCpu(const QByteArray &procStat);
double parseLoadAverage(const QByteArray &loadavg);
