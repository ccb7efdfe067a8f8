#pragma once
// The real window against the ECU simulator over a pseudo-terminal, for the end-to-end
// tests: the simulator's port is the only one in the list; the prompt records every
// message and answers the file dialogs from its queue.
#include "app/form1.h"
#include "core/qttimer.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "fakes.h"
#include "simprocess.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QtTest>
#include <memory>

struct E2E {
    SimProcess sim;
    FakePrompt prompt;
    std::unique_ptr<TForm1> form;

    explicit E2E(const QStringList &simArguments = {}) : sim(simArguments) {}

    bool start()
    {
        if (!sim.start())
            return false;
        form = std::make_unique<TForm1>(&prompt, QStringList{sim.devicePath()});
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
