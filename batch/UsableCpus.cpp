#include "batch/UsableCpus.h"

#include <QFile>
#include <QList>
#include <QThread>

namespace {

#ifdef Q_OS_LINUX
QByteArray ReadSmallFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
}

// The CPUs the quota of the process's control group allows (version 2, or the "cpu" controller
// of version 1), the tightest of its own and its parents' up to the mount; 0 when unlimited.
int QuotaCpus() {
    // Which group the process is in: "0::/path" (version 2), "N:cpu,cpuacct:/path" (version 1).
    QString v2Group;
    QString v1Group;
    bool haveV1 = false;
    for (const QByteArray &line : ReadSmallFile(QStringLiteral("/proc/self/cgroup")).split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3) {
            continue;
        }
        const QByteArray path = line.mid(fields[0].size() + fields[1].size() + 2);
        if (fields[0] == "0" && fields[1].isEmpty()) {
            v2Group = QString::fromUtf8(path);
        } else if (fields[1].split(',').contains("cpu")) {
            v1Group = QString::fromUtf8(path);
            haveV1 = true;
        }
    }
    // Where those hierarchies are mounted: "ID PARENT MAJ:MIN ROOT MOUNT ... - TYPE SOURCE OPTS".
    int tightest = 0;
    for (const QByteArray &line :
         ReadSmallFile(QStringLiteral("/proc/self/mountinfo")).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 3 >= fields.size()) {
            continue;
        }
        const QByteArray &type = fields[dash + 1];
        const bool v2 = type == "cgroup2" && !v2Group.isEmpty();
        const bool v1 = type == "cgroup" && haveV1 && fields[dash + 3].split(',').contains("cpu");
        if (!v2 && !v1) {
            continue;
        }
        const QString root = QString::fromUtf8(fields[3]);
        const QString mount = QString::fromUtf8(fields[4]);
        QString group = v2 ? v2Group : v1Group;
        if (root != QLatin1String("/") && group.startsWith(root)) {
            group = group.mid(root.size());
        }
        // From the process's own group up to the mount's root.
        for (QString folder = mount + group;; folder = folder.left(folder.lastIndexOf('/'))) {
            int cpus = 0;
            if (v2) {
                const QList<QByteArray> max =
                    ReadSmallFile(folder + QStringLiteral("/cpu.max")).trimmed().split(' ');
                cpus = max.size() == 2 ? CpusOfQuota(max[0].toLongLong(), max[1].toLongLong()) : 0;
            } else {
                cpus = CpusOfQuota(ReadSmallFile(folder + QStringLiteral("/cpu.cfs_quota_us"))
                                       .trimmed()
                                       .toLongLong(),
                                   ReadSmallFile(folder + QStringLiteral("/cpu.cfs_period_us"))
                                       .trimmed()
                                       .toLongLong());
            }
            if (cpus > 0 && (tightest == 0 || cpus < tightest)) {
                tightest = cpus;
            }
            if (folder.size() <= mount.size() || !folder.contains('/')) {
                break;
            }
        }
    }
    return tightest;
}
#endif

} // namespace

int CpusOfQuota(qint64 quota, qint64 period) {
    if (quota <= 0 || period <= 0) {
        return 0;
    }
    return int(qMin<qint64>((quota + period - 1) / period, 1 << 20));
}

int UsableCpuCount() {
    // Qt counts the CPUs of the process's affinity where the system has one.
    int cpus = QThread::idealThreadCount();
#ifdef Q_OS_LINUX
    if (const int quota = QuotaCpus(); quota > 0) {
        cpus = qMin(cpus, quota);
    }
#endif
    return qMax(1, cpus);
}
