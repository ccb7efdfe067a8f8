// Upload, read-back and scanner of the real window against the ECU simulator over a
// pseudo-terminal.
#include "e2ewindow.h"

#include "common/names.h"
#include "serial/comport.h"

#include <QColor>
#include <QPalette>

namespace {

// The 256 bytes of the start-up screen, block by block as the ECU stores them.
QByteArray startupImage()
{
    QByteArray image;
    for (const QString &t : QString("10 10 6 6 6 6 6 6 10 10 12 12 12 12 13 14 11 15 18 21 24 28 26 25 "
                                    "32 32 32 32 30 28 27 25 33 33 32 32 30 29 28 26 33 33 32 32 30 29 28 26 "
                                    "34 34 33 33 31 30 29 27 34 34 33 33 31 30 29 27 34 34 33 33 31 30 29 27")
                                .split(' '))
        image.append(char(t.toInt()));
    for (const QString &t : QString("35 52 58 64 74 78 80 81 31 43 53 62 73 76 78 81 28 40 50 62 72 74 78 81 "
                                    "25 38 44 62 72 74 80 82 24 33 42 66 74 82 82 83 24 31 42 68 76 87 86 86 "
                                    "23 29 40 67 77 82 83 85 23 28 39 66 78 78 83 83 22 28 38 65 78 78 81 81")
                                .split(' '))
        image.append(char(t.toInt()));
    image += QByteArray::fromHex("3732 2D28 2522 1E1B"
                                 "1814 120F 0C0A 0805"
                                 "0402 0000 0000 0000"
                                 "0505 0504 0404 0303"
                                 "0302 0202 0101 0100"
                                 "0000 0000 FFFE 0000"
                                 "4640 3932 2F2C 2825"
                                 "221E 1B18 1413 110F"
                                 "0A05 0000 0000 0000"
                                 "0000 0000 0000 0000"
                                 "0000 3746 5205 051E"
                                 "0505 1E05 0303 083C"
                                 "0506 0090 0082 E600"
                                 "160F 5750 0714 0A46");
    return image;
}

} // namespace

class TestE2ELink : public QObject {
    Q_OBJECT
private slots:
    void simulatorPortIsFirstAndActivates()
    {
        E2E e;
        QVERIFY2(e.start(), qPrintable(e.sim.errorString()));
        QCOMPARE(e.text("cbPorta"), e.sim.devicePath());
        e.activate();
        QVERIFY(e.form->ComPort1().Connected());
        QVERIFY(e.enabled("btnDesativar"));
        e.click("btnDesativar");
        QTRY_VERIFY(e.enabled("btnAtivar"));
        QVERIFY(!e.form->ComPort1().Connected());
        QVERIFY(!e.enabled("btnEnvia"));
        QCOMPARE(e.prompt.messages, QStringList());
    }

    void uploadOfTheStartupScreenGivesTheExpectedImage()
    {
        E2E e;
        QVERIFY(e.start());
        QCOMPARE(e.sim.dumpImage(), startupImage());
        e.activate();
        e.click("btnEnvia");
        QVERIFY(e.screen().isVisible("pnAguarde"));
        QVERIFY(!e.enabled("Button8"));
        QVERIFY(e.awaitUploadEnd(0));
        QCOMPARE(e.prompt.messages, QStringList());
        const QList<QByteArray> frames = e.sim.uploadFrames();
        QCOMPARE(frames.size(), 32);
        const QByteArray expected = startupImage();
        for (int b = 0; b < 32; ++b)
            QCOMPARE(frames[b], char(b + 1) + expected.mid(8 * b, 8));
        QCOMPARE(e.sim.dumpImage(), expected);
        QVERIFY(!e.screen().isVisible("pnAguarde"));
        QVERIFY(!e.screen().isVisible("Panel1"));
        QVERIFY(e.enabled("btnConfigurarTps"));
    }

    // Upload a changed screen, spoil the screen, read back: every control shows the
    // uploaded value again, in the read-back's own formatting.
    void uploadThenReadBackRestoresTheScreen()
    {
        E2E e;
        QVERIFY(e.start());
        e.activate();
        const QList<QPair<QString, QString>> typed = {
            {"e0", "12"}, {"e71", "40"}, {"e9i", "12,5"}, {"e70i", "3"}, {"eCorrecaoTi0", "60"},
            {"eCorrecaoIg105", "-5"}, {"eCorrecaoMl45", "33"}, {"eAtm940", "-4"}, {"eBasico", "4,5"},
            {"eGanho", "7"}, {"eDecremento", "2"}, {"eSondaTemp", "45"}, {"eSondaLenta", "450"},
            {"eDeslCutOff", "2500"}, {"eLigaCutOff", "1400"}, {"eLigaEletro", "95"}, {"eDesligaEletro", "88"},
            {"emSCorrecaoEletro", "1,2"}, {"ePercEletro", "25"}, {"emSAr", "1,5"}, {"ePercentualAr", "60"},
            {"eLimiteRpm", "7500"}, {"eAvancoPartida", "9"}, {"eTempoCarga", "3,2"}};
        for (const auto &[name, text] : typed)
            e.screen().setText(name, text);
        e.screen().setText("cbSondaAtiva", "Desativada");
        e.screen().setText("cbSondaTipo", "Banda Larga (1)");
        e.screen().setText("cbCombinacaoMapa", "MAP X RPM");
        e.screen().setItemIndex("cbPontoZero", 1);
        e.screen().setItemIndex("cbEscalaRpm", 2);
        e.screen().setItemIndex("cbTipoRodaFonica", 1);
        e.form->controller().cbTipoRodaFonicaChange();
        e.screen().setItemIndex("cbDentesPms", 5); // tooth 13 of the 36-1 wheel
        e.click("btnEnvia");
        QVERIFY(e.awaitUploadEnd(0));
        QCOMPARE(e.prompt.messages, QStringList());

        for (const auto &[name, text] : typed)
            e.screen().setText(name, "77");
        e.screen().setText("cbSondaAtiva", "Ativada");
        e.screen().setItemIndex("cbEscalaRpm", 0);
        e.click("btnLerDados");
        QVERIFY(e.screen().isVisible("Panel1"));
        QTRY_VERIFY_WITH_TIMEOUT(!e.screen().isVisible("Panel1") && e.enabled("btnEnvia"), 8000);
        QCOMPARE(e.prompt.messages, QStringList());
        QCOMPARE(e.sim.commands().count(0x33), 1);

        const QHash<QString, QString> shown = {{"e9i", "12,5"}, {"e70i", "3,0"}, {"eBasico", "4,5"},
                                               {"emSCorrecaoEletro", "1,2"}, {"emSAr", "1,5"},
                                               {"eTempoCarga", "3,2"}};
        for (const auto &[name, text] : typed)
            QCOMPARE(e.text(name), shown.value(name, text));
        QCOMPARE(e.text("cbSondaAtiva"), QString("Desativada"));
        QCOMPARE(e.text("cbSondaTipo"), QString("Banda Larga (1)"));
        QCOMPARE(e.text("cbCombinacaoMapa"), QString("MAP X RPM"));
        QCOMPARE(e.text("Label72"), QString("-820"));
        QCOMPARE(e.text("Label71"), QString("0 mbar"));
        QCOMPARE(e.text("cbPontoZero"), QString("-2"));
        QCOMPARE(e.text("cbEscalaRpm"), QString("9400"));
        QCOMPARE(e.text("StaticText9"), QString("9400"));
        QCOMPARE(e.text("StaticText19"), QString("9400"));
        QCOMPARE(e.text("cbTipoRodaFonica"), QString("36-1"));
        QCOMPARE(e.text("cbDentesPms"), QString("13"));
        QCOMPARE(e.screen().barMin("BarraTps"), 32);
        QCOMPARE(e.screen().barMax("BarraTps"), 230);
        QVERIFY(!e.enabled("btnAtivar"));
    }

    void scannerMarksTheOperatingCellAndTheWatchdogFires()
    {
        E2E e({"--speed", "14", "--load", "3", "--rpm", "3000"});
        QVERIFY(e.start());
        e.activate();
        e.click("Button3");
        QCOMPARE(e.text("Button3"), QString("Desativar &Scanner"));
        QVERIFY(!e.screen().isVisible("TabSheet2"));
        const auto red = [&](int k) {
            return e.screen().color(names::ignitionCell(k)) == colors::red &&
                   e.screen().color(names::injectionCell(k)) == colors::red;
        };
        QTRY_VERIFY_WITH_TIMEOUT(red(16) && red(17) && red(24) && red(25), 4000);
        QVERIFY(!red(0));
        QCOMPARE(e.text("eRpm"), QString("3000"));
        QCOMPARE(e.text("eLinhaMapa"), QString("14"));
        QVERIFY(e.sim.commands().contains(0x7F));

        QVERIFY(e.sim.command("silent on"));
        QTRY_VERIFY_WITH_TIMEOUT(e.prompt.messages.contains("Módulo não responde"), 4000);
        QCOMPARE(e.prompt.messages, QStringList{"Módulo não responde"});
        QCOMPARE(e.text("Button3"), QString("Ativar &Scanner"));
        QVERIFY(e.screen().isVisible("TabSheet2"));
        QVERIFY(!e.form->timer1().isEnabled());
        QVERIFY(e.sim.waitForEvents("command D9", 1, 2000));
        QVERIFY(red(16)); // the marks stay when the scanner goes off
    }

    // A read-back that the ECU never answers does not keep the window locked.
    void silentReadBackEndsWithAMessage()
    {
        E2E e({"--silent"});
        QVERIFY(e.start());
        e.activate();
        e.click("btnLerDados");
        QVERIFY(e.screen().isVisible("Panel1"));
        QTRY_VERIFY_WITH_TIMEOUT(e.prompt.messages.contains("Módulo não responde"), 6000);
        QVERIFY(!e.screen().isVisible("Panel1"));
        QVERIFY(e.enabled("btnLerDados"));
        QVERIFY(e.enabled("btnEnvia"));
    }

    // A read-back cut by a silent module leaves the screen a mix of the module's texts
    // and the earlier ones: "Configurar &TPS" waits until a read-back ends whole.
    void readBackCutBySilenceLeavesTheModuleUnknown()
    {
        E2E e;
        QVERIFY(e.start());
        e.activate();
        QVERIFY(!e.enabled("btnConfigurarTps"));
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnConfigurarTps"), 10000); // the whole set came

        QVERIFY(e.sim.command("pace 400"));
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(e.screen().isVisible("pnAguarde"), 5000); // its first frame came
        QVERIFY(e.sim.command("silent on"));
        QTRY_VERIFY_WITH_TIMEOUT(e.prompt.messages.contains("Módulo não responde"), 8000);
        QCOMPARE(e.prompt.messages, QStringList{"Módulo não responde"});
        QVERIFY(!e.screen().isVisible("pnAguarde"));
        QVERIFY(e.enabled("btnLerDados"));
        QVERIFY(e.enabled("btnEnvia"));
        QVERIFY(!e.enabled("btnConfigurarTps"));

        QVERIFY(e.sim.command("silent off"));
        QVERIFY(e.sim.command("pace 0"));
        e.click("btnLerDados");
        QTRY_VERIFY_WITH_TIMEOUT(e.enabled("btnConfigurarTps"), 10000);
        QCOMPARE(e.prompt.messages, QStringList{"Módulo não responde"});
    }
};

QTEST_MAIN(TestE2ELink)
#include "tst_e2e_link.moc"
