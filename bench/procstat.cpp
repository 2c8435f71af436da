#include "procstat.h"

#include <QFile>
#include <QList>

#include <ctime>
#include <unistd.h>

namespace {

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    // /proc files report size 0: read until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool parseStatCpu(const QByteArray &stat, long ticksPerSecond, double *cpuSeconds)
{
    // "pid (comm) state ppid ...": comm may hold spaces and parentheses, so count from the last ')'.
    const int close = stat.lastIndexOf(')');
    if (close < 0 || ticksPerSecond <= 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    // fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return false;
    bool okUser = false, okSystem = false;
    const qulonglong user = fields.at(11).toULongLong(&okUser);
    const qulonglong system = fields.at(12).toULongLong(&okSystem);
    if (!okUser || !okSystem)
        return false;
    *cpuSeconds = double(user + system) / double(ticksPerSecond);
    return true;
}

bool parseStatusMemory(const QByteArray &status, qint64 *rssKb, qint64 *peakRssKb)
{
    bool haveRss = false, havePeak = false;
    for (const QByteArray &line : status.split('\n')) {
        const bool isRss = line.startsWith("VmRSS:");
        const bool isPeak = line.startsWith("VmHWM:");
        if (!isRss && !isPeak)
            continue;
        const QList<QByteArray> parts = line.mid(6).simplified().split(' ');
        bool ok = false;
        const qint64 kb = parts.value(0).toLongLong(&ok);
        if (!ok || parts.value(1) != "kB")
            return false;
        if (isRss) {
            *rssKb = kb;
            haveRss = true;
        } else {
            *peakRssKb = kb;
            havePeak = true;
        }
    }
    return haveRss && havePeak;
}

ProcSample sampleProcess(pid_t pid)
{
    ProcSample s;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const QByteArray stat = readProcFile(base + QStringLiteral("stat"));
    const QByteArray status = readProcFile(base + QStringLiteral("status"));
    s.valid = parseStatCpu(stat, sysconf(_SC_CLK_TCK), &s.cpuSeconds) &&
              parseStatusMemory(status, &s.rssKb, &s.peakRssKb);
    return s;
}

double processCpuSeconds(pid_t pid)
{
    clockid_t clock;
    timespec ts;
    // 0 and -1 would name this very process's clock.
    if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0)
        return -1;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

MachineCpu parseMachineCpu(const QByteArray &procStat)
{
    MachineCpu m;
    const QByteArray line = procStat.left(procStat.indexOf('\n'));
    if (!line.startsWith("cpu "))
        return m;
    // user nice system idle iowait irq softirq steal; guest time is already counted in user.
    const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
    if (fields.size() < 8)
        return m;
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        const qint64 jiffies = fields.at(i).toLongLong(&ok);
        if (!ok)
            return m;
        m.total += jiffies;
        if (i != 3 && i != 4)
            m.busy += jiffies;
    }
    m.valid = true;
    return m;
}

MachineCpu sampleMachineCpu()
{
    return parseMachineCpu(readProcFile(QStringLiteral("/proc/stat")));
}

double busyPercent(const MachineCpu &from, const MachineCpu &to)
{
    if (!from.valid || !to.valid || to.total <= from.total)
        return -1;
    return 100.0 * double(to.busy - from.busy) / double(to.total - from.total);
}

double parseLoadAverage(const QByteArray &loadavg)
{
    bool ok = false;
    const double load = loadavg.simplified().split(' ').value(0).toDouble(&ok);
    return ok ? load : -1;
}

double loadAverage()
{
    return parseLoadAverage(readProcFile(QStringLiteral("/proc/loadavg")));
}
