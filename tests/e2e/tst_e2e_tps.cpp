// The guided TPS calibration of the real window against the simulator: closed throttle,
// then the tuner opens it fully when asked; the new limits reach the ECU and come back
// in a read-back.
#include "e2ewindow.h"
#include "realdialog.h"

#include <QMessageBox>
#include <functional>

namespace {
const QString startMessage = " Deixar  a  borboleta  Fechada  e  Seguir  as  instruções,  teclar Enter ou \" OK \" "
                             "para continuar...  ";
const QString openMessage = " Abrir  totalmente  a  Borboleta,  teclar Enter ou \" OK \" para continuar.... ";
const QString doneMessage = "  CONFIGURAÇÃO  CONCLUIDA . . .  Abrir toda a borboleta e conferir se o sinal do TPS "
                            "esta de 0 a 100% ";
} // namespace

class TestE2ETps : public QObject {
    Q_OBJECT
private slots:
    void calibratesAgainstTheSimulator()
    {
        E2E e({"--tps", "200"});
        QVERIFY(e.start());
        e.activate();
        e.click("btnEnvia"); // the calibration is offered once the ECU was written
        QVERIFY(e.awaitUploadEnd(0));
        QVERIFY(e.enabled("btnConfigurarTps"));

        // The tuner opens the throttle when the program asks for it.
        e.prompt.onMessage = [&](const QString &text) {
            if (text == openMessage)
                e.sim.command("tps 900");
        };
        e.click("btnConfigurarTps");
        QTRY_VERIFY_WITH_TIMEOUT(e.prompt.messages.contains(doneMessage), 20000);
        QCOMPARE(e.prompt.messages, QStringList({startMessage, openMessage, doneMessage}));
        QCOMPARE(e.form->controller().state().wv.tpsMin, 200);
        QCOMPARE(e.form->controller().state().wv.tpsMax, 225);
        QCOMPARE(e.form->controller().state().tps, TpsPhase::None);
        QVERIFY(e.sim.waitForEvents("command 48", 2, 3000));
        const QByteArray image = e.sim.dumpImage();
        QCOMPARE(quint8(image[245]), quint8(200));
        QCOMPARE(quint8(image[246]), quint8(225));

        // The calibration leaves the scanner on for the tuner's check; switch it off,
        // then read the ECU back.
        QTRY_COMPARE(e.text("Button3"), QString("Desativar &Scanner"));
        QVERIFY(e.enabled("Button3"));
        e.click("Button3");
        QVERIFY(e.sim.waitForEvents("command D9", 1, 3000));
        e.screen().setBarMin("BarraTps", 0);
        e.screen().setBarMax("BarraTps", 255);
        QTRY_VERIFY(e.enabled("btnLerDados"));
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("Panel1"), 8000);
        QCOMPARE(e.screen().barMin("BarraTps"), 50);
        QCOMPARE(e.screen().barMax("BarraTps"), 225);
        QCOMPARE(e.prompt.messages.size(), 3);
    }

    // The same calibration in the real window, its boxes answered as the tuner does:
    // each box waits for "OK"; the throttle is opened while the second one is shown.
    void calibratesThroughTheRealBoxes()
    {
        E2E e({"--tps", "200"});
        e.realDialogs = true;
        QVERIFY(e.start());
        e.activate();
        e.click("btnEnvia");
        QVERIFY(e.awaitUploadEnd(0));
        QVERIFY(e.enabled("btnConfigurarTps"));

        QStringList seen, buttons;
        std::function<void(QMessageBox *)> answer = [&](QMessageBox *box) {
            seen << box->text();
            if (box->text() == openMessage)
                e.sim.command("tps 900");
            QAbstractButton *ok = nullptr;
            for (QAbstractButton *b : box->buttons()) {
                buttons << b->text();
                if (b->text() == QLatin1String("OK"))
                    ok = b;
            }
            QVERIFY(ok);
            if (seen.size() < 3)
                RealDialog::answerNext<QMessageBox>(answer);
            QTest::mouseClick(ok, Qt::LeftButton);
        };
        RealDialog::answerNext<QMessageBox>(answer);
        e.click("btnConfigurarTps");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 20000);
        QCOMPARE(seen, QStringList({startMessage, openMessage, doneMessage}));
        QCOMPARE(buttons, QStringList({"OK", "OK", "OK"}));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(e.form->controller().state().wv.tpsMin, 200);
        QCOMPARE(e.form->controller().state().wv.tpsMax, 225);
        QVERIFY(e.sim.waitForEvents("command 48", 2, 3000));
        const QByteArray image = e.sim.dumpImage();
        QCOMPARE(quint8(image[245]), quint8(200));
        QCOMPARE(quint8(image[246]), quint8(225));
    }
};

QTEST_MAIN(TestE2ETps)
#include "tst_e2e_tps.moc"
