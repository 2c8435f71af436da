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

// Parsers of the two files, for the sampler and its tests. ticksPerSecond is sysconf(_SC_CLK_TCK).
bool parseStatCpu(const QByteArray &stat, long ticksPerSecond, double *cpuSeconds);
bool parseStatusMemory(const QByteArray &status, qint64 *rssKb, qint64 *peakRssKb);
