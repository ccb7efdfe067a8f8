#pragma once
// Runs the real velto-cli (its path in VELTO_CLI, defined by the target that includes
// this) for the end-to-end tests and benchmarks: exit code, standard output and
// standard error.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QString>
#include <QStringList>

namespace clirun {

// A file of the test's own folder with these bytes; a test that cannot write it stops.
inline QString writeTemp(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A file's bytes; "<missing>" when there is none, so that a comparison names it.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Run {
    int code = -1; // -1: did not end in time; -2: ended by a signal
    QString out, err;
};

// Waits for the end of p, which runs velto-cli; one that does not end in time is killed.
inline Run finish(QProcess &p, int timeoutMs)
{
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("velto-cli did not end");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Runs velto-cli to its end; its standard output goes to stdoutFile when one is named.
inline Run cli(const QStringList &arguments, const QString &stdoutFile = {}, int timeoutMs = 30000)
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(QStringLiteral(VELTO_CLI), arguments);
    return finish(p, timeoutMs);
}

// velto-cli started in the background, while the test acts on the simulator;
// killed if the test ends before it.
struct Background {
    QProcess p;
    explicit Background(const QStringList &arguments) { p.start(QStringLiteral(VELTO_CLI), arguments); }
    ~Background()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
    Run finish(int timeoutMs = 20000) { return clirun::finish(p, timeoutMs); }
};

} // namespace clirun
