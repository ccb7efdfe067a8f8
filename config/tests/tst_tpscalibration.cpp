// The guided TPS calibration, driven tick by tick with the live data fed by hand.
#include "config/tpscalibration.h"
#include "fakes.h"

#include <QtTest>

namespace {

const QString startMessage = QString::fromUtf8(
    " Deixar  a  borboleta  Fechada  e  Seguir  as  instruções,  teclar Enter ou \" OK \" para continuar...  ");
const QString fullMessage =
    QString::fromUtf8(" Abrir  totalmente  a  Borboleta,  teclar Enter ou \" OK \" para continuar.... ");
const QString highMessage = QString::fromUtf8(
    "  ATENÇÃO ! ! !    A tensão do Tps esta muito alta para borboleta fechada, favor ver manual Pág. 13 ");
const QString cancelledMessage = QString::fromUtf8(" A configuração foi cancelada ! ! ! ");
const QString silentMessage =
    QString::fromUtf8(" Atenção ! !  O módulo não respondeu. A configuração do TPS foi cancelada.  ");
const QString notSentMessage = QString::fromUtf8(
    " Atenção ! !  Os limites do TPS não foram enviados ao módulo. A configuração do TPS foi cancelada.  ");
QString slowMessage(int frames)
{
    return QString::fromUtf8(" Atenção ! !  Chegaram só %1 das 6 leituras do TPS em 3,5 segundos: o módulo envia os "
                             "dados devagar demais. A configuração do TPS foi cancelada.  ")
        .arg(frames);
}
const QString doneMessage = QString::fromUtf8(
    "  CONFIGURAÇÃO  CONCLUIDA . . .  Abrir toda a borboleta e conferir se o sinal do TPS esta de 0 a 100% ");

// The calibration over the fakes, with the scanner and the upload modelled by spies.
struct Bench {
    Rig rig;
    TpsCalibration tps{rig.ctx};
    int toggles = 0;
    int uploads = 0;
    int uploadedMin = 0, uploadedMax = 0;
    QString uploadRefusal;       // the upload throws this before its first frame
    bool uploadCompleted = true; // the upload ran to its end command
    // State seen while each message was open.
    QList<bool> timerOnAtMessage;
    QList<int> tagAtMessage;
    QList<int> togglesAtMessage;

    Bench()
    {
        // As after an upload over an open port: both buttons enabled.
        rig.state.link = LinkState::Open;
        rig.state.moduleKnown = true;
        rig.screen.setEnabled("Button3", true);
        rig.screen.setEnabled("btnConfigurarTps", true);
        // Limits and bar range from an earlier read-back, so that restoring shows.
        rig.state.wv.tpsMin = 140;
        rig.state.wv.tpsMax = 220;
        rig.screen.setBarMin("BarraTps", 35);
        rig.screen.setBarMax("BarraTps", 220);
        rig.ctx.hooks.scannerToggle = [this] {
            ++toggles;
            rig.state.scannerActive = !rig.state.scannerActive;
            if (rig.state.scannerActive)
                rig.screen.setEnabled("btnConfigurarTps", false); // as switching the scanner on does
        };
        tps.uploadCompleted = [this] { return uploadCompleted; };
        rig.ctx.hooks.upload = [this] {
            if (!uploadRefusal.isEmpty())
                throw std::runtime_error(uploadRefusal.toStdString());
            ++uploads;
            uploadedMin = rig.state.wv.tpsMin;
            uploadedMax = rig.state.wv.tpsMax;
        };
        rig.ctx.hooks.tpsSample = [this](int reading) { tps.sample(reading); };
        rig.prompt.onMessage = [this](const QString &) {
            timerOnAtMessage << rig.timerTps.isEnabled();
            tagAtMessage << int(rig.state.tps == TpsPhase::Sampling);
            togglesAtMessage << toggles;
        };
    }

    // One kind-29 frame as the decoder hands it over.
    void frame(int reading)
    {
        rig.state.tpsReading = reading;
        rig.state.tpsVoltage = reading * 5.0L / 1023;
        if (rig.state.tps == TpsPhase::Sampling)
            rig.ctx.hooks.tpsSample(reading);
        rig.screen.setBarPosition("BarraTps", reading / 4);
    }
    void ticksTo(int step)
    {
        while (tps.stepCounter() < step && rig.timerTps.isEnabled())
            tps.TimerTPSTimer();
    }
    void checkRestored()
    {
        QCOMPARE(rig.state.wv.tpsMin, 140);
        QCOMPARE(rig.state.wv.tpsMax, 220);
        QCOMPARE(rig.screen.barMin("BarraTps"), 35);
        QCOMPARE(rig.screen.barMax("BarraTps"), 220);
    }
    void checkEnded()
    {
        QCOMPARE(rig.state.tps, TpsPhase::None);
        QVERIFY(!rig.timerTps.isEnabled());
        QVERIFY(rig.screen.isEnabled("Button3"));
        QVERIFY(rig.screen.isEnabled("btnConfigurarTps"));
    }
};

} // namespace

class TestTpsCalibration : public QObject {
    Q_OBJECT
private slots:
    void start();
    void completeRun_data();
    void completeRun();
    void closedThrottleTooHigh_data();
    void closedThrottleTooHigh();
    void silentModule_data();
    void silentModule();
    void limitsNotSent_data();
    void limitsNotSent();
    void secondStartAfterCancellation_data();
    void secondStartAfterCancellation();
};

void TestTpsCalibration::start()
{
    Bench b;
    b.rig.timerTps.setInterval(1000);
    b.tps.btnConfigurarTpsClick();
    QCOMPARE(b.rig.prompt.messages, QStringList{startMessage});
    QVERIFY(!b.rig.screen.isEnabled("Button3"));
    QCOMPARE(b.tps.sampleCounter(), 1);
    QCOMPARE(b.tps.stepCounter(), 0);
    QCOMPARE(b.rig.timerTps.interval(), 500);
    QVERIFY(b.rig.timerTps.isEnabled());
    // The samples are taken from the first tick on, not from the start.
    QCOMPARE(b.rig.state.tps, TpsPhase::Started);
    QCOMPARE(b.toggles, 0);
    // The start message is shown before the timer runs.
    QCOMPARE(b.timerOnAtMessage, QList<bool>{false});
}

void TestTpsCalibration::completeRun_data()
{
    QTest::addColumn<int>("closed");
    QTest::addColumn<int>("full");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("label54");
    QTest::newRow("closed 200, full 900") << 200 << 900 << 225 << "4,39882697947214";
    QTest::newRow("throttle not opened") << 200 << 200 << 201 << "0,977517106549365";
    QTest::newRow("full just above closed") << 200 << 201 << 50 << "0,982404692082111";
    // The read-back takes no TPS maximum above 250: the calibration keeps to it.
    QTest::newRow("closed 255 (1,246 V) goes on") << 255 << 1023 << 250 << "5";
    QTest::newRow("full 1003: the highest maximum") << 200 << 1003 << 250 << "4,90224828934506";
    QTest::newRow("full 1004: capped") << 200 << 1004 << 250 << "4,90713587487781";
}

void TestTpsCalibration::completeRun()
{
    QFETCH(int, closed);
    QFETCH(int, full);
    QFETCH(int, max);
    QFETCH(QString, label54);
    Bench b;
    b.tps.btnConfigurarTpsClick();

    b.tps.TimerTPSTimer(); // step 1, 0,5 s
    QCOMPARE(b.rig.state.tps, TpsPhase::Sampling);
    QCOMPARE(b.rig.screen.text("Label92"), QString("1"));
    QCOMPARE(b.toggles, 1);
    QVERIFY(b.rig.state.scannerActive);

    b.frame(closed); // sample count 2: closed throttle
    QCOMPARE(b.rig.screen.text("Label91"), QString("2"));
    QCOMPARE(b.rig.state.wv.tpsMin, closed);
    QCOMPARE(b.rig.screen.barMin("BarraTps"), closed / 4);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), closed);
    QCOMPARE(b.rig.screen.text("Label89"), QString::number(closed));
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.toggles, 2);

    b.tps.TimerTPSTimer();
    b.tps.TimerTPSTimer();
    QCOMPARE(b.rig.prompt.messages.size(), 1); // nothing yet at 1,5 s
    b.tps.TimerTPSTimer(); // step 4, 2 s after the start
    QCOMPARE(b.rig.prompt.messages, (QStringList{startMessage, fullMessage}));
    // The timer stands still while the message is open; the scanner comes on after it.
    QCOMPARE(b.timerOnAtMessage.last(), false);
    QCOMPARE(b.togglesAtMessage.last(), 2);
    QCOMPARE(b.toggles, 3);
    QVERIFY(b.rig.state.scannerActive);
    QVERIFY(b.rig.timerTps.isEnabled());

    // The full-throttle sample is the sixth frame after the closed one.
    for (int i = 0; i < 5; ++i)
        b.frame(full);
    QCOMPARE(b.rig.state.wv.tpsMax, 220);
    QCOMPARE(b.toggles, 3);
    b.frame(full);
    QCOMPARE(b.tps.sampleCounter(), 8);
    QCOMPARE(b.rig.state.wv.tpsMax, max);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), max);
    QCOMPARE(b.rig.screen.text("Label90"), QString::number(max));
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.toggles, 4);

    b.ticksTo(10);
    QCOMPARE(b.uploads, 0);
    b.tps.TimerTPSTimer(); // step 11
    QCOMPARE(b.uploads, 1);
    QCOMPARE(b.uploadedMin, closed);
    QCOMPARE(b.uploadedMax, max);
    QCOMPARE(b.rig.state.tps, TpsPhase::Sampling);

    b.ticksTo(16);
    QCOMPARE(b.rig.prompt.messages.size(), 2);
    b.tps.TimerTPSTimer(); // step 17
    QCOMPARE(b.rig.prompt.messages, (QStringList{startMessage, fullMessage, doneMessage}));
    QCOMPARE(b.rig.screen.text("Label54"), label54);
    QCOMPARE(b.rig.screen.text("Label92"), QString("17"));
    // Flag down and timer off while the end message is open, scanner on after it.
    QCOMPARE(b.tagAtMessage.last(), 0);
    QCOMPARE(b.timerOnAtMessage.last(), false);
    QCOMPARE(b.togglesAtMessage.last(), 4);
    QCOMPARE(b.toggles, 5);
    QVERIFY(b.rig.state.scannerActive);
    QCOMPARE(b.uploads, 1);
    QCOMPARE(b.rig.state.wv.tpsMin, closed);
    QCOMPARE(b.rig.state.wv.tpsMax, max);
    QCOMPARE(b.rig.state.tps, TpsPhase::None);
    QVERIFY(!b.rig.timerTps.isEnabled());
    QVERIFY(b.rig.screen.isEnabled("Button3"));
    // The enabled rule: no new calibration while the scanner it left on runs.
    QVERIFY(!b.rig.screen.isEnabled("btnConfigurarTps"));
}

void TestTpsCalibration::closedThrottleTooHigh_data()
{
    QTest::addColumn<int>("closed");
    QTest::newRow("closed 300 (1,47 V)") << 300;
    QTest::newRow("closed 256 (1,251 V)") << 256;
    QTest::newRow("closed 1023") << 1023;
}

void TestTpsCalibration::closedThrottleTooHigh()
{
    QFETCH(int, closed);
    Bench b;
    b.tps.btnConfigurarTpsClick();
    b.tps.TimerTPSTimer();
    b.frame(closed);
    QCOMPARE(b.rig.state.wv.tpsMin, closed);
    QCOMPARE(b.rig.screen.barMax("BarraTps"), closed);
    b.ticksTo(4);
    QCOMPARE(b.tps.stepCounter(), 0);
    QCOMPARE(b.rig.prompt.messages, (QStringList{startMessage, highMessage, cancelledMessage}));
    // The rejected sample is not kept and nothing is sent.
    b.checkRestored();
    b.checkEnded();
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.toggles, 2);
    QCOMPARE(b.uploads, 0);
    // No sampling while the cancel messages are open.
    QCOMPARE(b.tagAtMessage.mid(1), (QList<int>{0, 0}));
}

void TestTpsCalibration::silentModule_data()
{
    QTest::addColumn<int>("closedFrames"); // frames while the scanner is on after step 1
    QTest::addColumn<int>("fullFrames");   // frames after the full-throttle message
    QTest::addColumn<bool>("watchdogOff"); // the link watchdog switched the scanner off
    QTest::addColumn<int>("cancelStep");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("no frame at all") << 0 << 0 << false << 4 << QStringList{startMessage, silentMessage};
    QTest::newRow("no frame, watchdog already off") << 0 << 0 << true << 4 << QStringList{startMessage, silentMessage};
    QTest::newRow("closed sample, then silence")
        << 1 << 0 << false << 11 << QStringList{startMessage, fullMessage, silentMessage};
    // A module that answers, only too slowly (one frame a second), is told so.
    QTest::newRow("closed sample, five frames short of the full one")
        << 1 << 5 << false << 11 << QStringList{startMessage, fullMessage, slowMessage(5)};
    QTest::newRow("closed sample, two frames, watchdog off")
        << 1 << 2 << true << 11 << QStringList{startMessage, fullMessage, slowMessage(2)};
    QTest::newRow("one frame a second for 3,5 s")
        << 1 << 3 << false << 11 << QStringList{startMessage, fullMessage, slowMessage(3)};
}

void TestTpsCalibration::silentModule()
{
    QFETCH(int, closedFrames);
    QFETCH(int, fullFrames);
    QFETCH(bool, watchdogOff);
    QFETCH(int, cancelStep);
    QFETCH(QStringList, messages);
    Bench b;
    b.tps.btnConfigurarTpsClick();
    b.tps.TimerTPSTimer();
    for (int i = 0; i < closedFrames; ++i)
        b.frame(200);
    if (cancelStep == 4 && watchdogOff)
        b.rig.ctx.hooks.scannerToggle();
    b.ticksTo(4);
    if (cancelStep == 11) {
        QCOMPARE(b.rig.prompt.messages.last(), fullMessage);
        for (int i = 0; i < fullFrames; ++i)
            b.frame(900);
        if (watchdogOff)
            b.rig.ctx.hooks.scannerToggle();
        b.ticksTo(11);
        QCOMPARE(b.tps.stepCounter(), 0);
    }

    QCOMPARE(b.rig.prompt.messages, messages);
    QCOMPARE(b.uploads, 0);
    b.checkRestored();
    b.checkEnded();
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.tagAtMessage.last(), 0);
}

void TestTpsCalibration::limitsNotSent_data()
{
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<int>("endStep");
    QTest::addColumn<QStringList>("messages");
    const QString refusal = QString::fromUtf8(" Atenção ! !  O valor \"5\" do campo Ponto  Zero não é um dos valores da "
                                              "lista. Selecione um dos Valores. Nada foi enviado.  ");
    QTest::newRow("upload refused before its first frame")
        << refusal << false << 11 << QStringList{startMessage, fullMessage, refusal, notSentMessage};
    QTest::newRow("upload interrupted") << QString() << false << 17
                                        << QStringList{startMessage, fullMessage, notSentMessage};
}

void TestTpsCalibration::limitsNotSent()
{
    QFETCH(QString, refusal);
    QFETCH(bool, completed);
    QFETCH(int, endStep);
    QFETCH(QStringList, messages);
    Bench b;
    b.uploadRefusal = refusal;
    b.uploadCompleted = completed;
    b.tps.btnConfigurarTpsClick();
    b.tps.TimerTPSTimer();
    b.frame(200);
    b.ticksTo(4);
    for (int i = 0; i < 6; ++i)
        b.frame(900);
    QCOMPARE(b.rig.state.wv.tpsMax, 225);
    b.ticksTo(endStep);
    QCOMPARE(b.tps.stepCounter(), 0);
    QCOMPARE(b.rig.prompt.messages, messages);
    QVERIFY(!b.rig.prompt.messages.contains(doneMessage));
    b.checkRestored();
    b.checkEnded();
    QVERIFY(!b.rig.state.scannerActive);
    QCOMPARE(b.tagAtMessage.last(), 0);
}

void TestTpsCalibration::secondStartAfterCancellation_data()
{
    QTest::addColumn<int>("firstClosed"); // -1: the module stays silent
    QTest::newRow("after a too high closed throttle") << 300;
    QTest::newRow("after a silent module") << -1;
}

void TestTpsCalibration::secondStartAfterCancellation()
{
    QFETCH(int, firstClosed);
    Bench b;
    b.tps.btnConfigurarTpsClick();
    b.tps.TimerTPSTimer();
    if (firstClosed >= 0) {
        b.frame(firstClosed);
        for (int i = 0; i < 3; ++i)
            b.frame(500); // more frames after the closed one: the counters run on
    }
    b.ticksTo(4);
    QCOMPARE(b.rig.state.tps, TpsPhase::None);

    b.rig.prompt.messages.clear();
    b.tps.btnConfigurarTpsClick();
    QCOMPARE(b.tps.sampleCounter(), 1);
    QCOMPARE(b.tps.stepCounter(), 0);
    b.tps.TimerTPSTimer();
    QCOMPARE(b.tps.stepCounter(), 1);
    b.frame(180); // count 2 again: the closed-throttle sample
    QCOMPARE(b.rig.state.wv.tpsMin, 180);
    b.ticksTo(4);
    for (int i = 0; i < 6; ++i)
        b.frame(800);
    QCOMPARE(b.rig.state.wv.tpsMax, 200);
    b.ticksTo(17);
    QCOMPARE(b.rig.prompt.messages, (QStringList{startMessage, fullMessage, doneMessage}));
    QCOMPARE(b.uploads, 1);
    QCOMPARE(b.uploadedMin, 180);
    QCOMPARE(b.uploadedMax, 200);
}

QTEST_GUILESS_MAIN(TestTpsCalibration)
#include "tst_tpscalibration.moc"
