#pragma once
// The real window against the ECU simulator over a pseudo-terminal, for the end-to-end
// tests: the simulator's port is the only one in the list; the prompt records every
// message and answers the file dialogs from its queue.
#include "app/form1.h"
#include "core/qttimer.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "fakes.h"
#include "serial/comport.h"
#include "simprocess.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>
#include <memory>

struct E2E {
    SimProcess sim;
    FakePrompt prompt;
    // True: the window shows its own boxes and file dialogs (answered with realdialog.h),
    // prompt stays unused.
    bool realDialogs = false;
    std::unique_ptr<TForm1> form;

    explicit E2E(const QStringList &simArguments = {}) : sim(simArguments) {}

    bool start()
    {
        if (!sim.start())
            return false;
        form = std::make_unique<TForm1>(realDialogs ? nullptr : &prompt, QStringList{sim.devicePath()});
        form->show();
        return true;
    }
    WidgetScreen &screen() { return form->widgetScreen(); }
    QString text(const QString &name) { return screen().text(name); }
    bool enabled(const QString &name) { return screen().isEnabled(name); }
    // A mouse click on the named button, as the user makes it.
    void click(const QString &name)
    {
        auto *b = screen().get<QAbstractButton>(name);
        QVERIFY2(b, qPrintable(name));
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void type(const QString &name, const QString &text)
    {
        auto *e = screen().get<QLineEdit>(name);
        e->selectAll();
        QTest::keyClicks(e, text);
    }
    void activate()
    {
        click("btnAtivar");
        QTRY_VERIFY_WITH_TIMEOUT(!enabled("btnAtivar") && enabled("btnEnvia"), 3000);
    }
    // Waits until the upload has ended on the window's side and the simulator has taken
    // the end-of-upload command.
    bool awaitUploadEnd(int commandsBefore)
    {
        QElapsedTimer clock;
        clock.start();
        while ((form->timer2().isEnabled() || !enabled("btnEnvia")) && clock.elapsed() < 6000)
            QTest::qWait(20);
        if (form->timer2().isEnabled())
            return false;
        return sim.waitForEvents("command 48", commandsBefore + 1, 3000);
    }
};

// A port held by another opener, as the refusal to open names it: a flock taken by
// another process (a shell that became sleep), or a TComPort of this process.
struct PortHolder {
    TComPort port;
    QProcess locker;
    bool otherProcess = false;

    bool hold(const QString &path, bool byOtherProcess)
    {
        otherProcess = byOtherProcess;
        if (!otherProcess) {
            port.setPort(path);
            port.Open();
            return port.Connected();
        }
        locker.start("sh", {"-c", "exec 9<\"$1\" && flock -x -n 9 && echo locked && exec sleep 60", "sh", path});
        if (!(locker.waitForStarted(3000) && locker.waitForReadyRead(3000) &&
              locker.readLine().trimmed() == QByteArray("locked")))
            return false;
        // "locked" comes before the shell becomes sleep: wait for the name the refusal gives.
        QFile comm(QStringLiteral("/proc/%1/comm").arg(locker.processId()));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == QByteArray("sleep"))
                return true;
            comm.close();
            QThread::msleep(5);
        }
        return false;
    }
    void release()
    {
        if (otherProcess) {
            locker.kill();
            locker.waitForFinished(3000);
        } else {
            port.Close();
        }
    }
    // The holder's name as the kernel keeps it (at most 15 bytes) and its process.
    QString name() const
    {
        if (otherProcess)
            return QStringLiteral("sleep");
        QFile comm(QStringLiteral("/proc/self/comm"));
        return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
    }
    qint64 pid() const { return otherProcess ? locker.processId() : QCoreApplication::applicationPid(); }
};
