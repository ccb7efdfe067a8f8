#pragma once
// The pid of a process that has ended: a lock file naming it is stale.
#include <QProcess>

inline qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"), {});
    p.waitForStarted();
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}
