// The window's start-up and port states, the whole core wired together.
#include "fakecore.h"
#include "common/names.h"

#include <QtTest>

namespace {
const QStringList alwaysAfterStart = {"btnAtivar", "btnSalvar", "Button1", "btnCarregar", "Button2", "btnAlterarMapas"};
const QStringList portButtons = {"btnDesativar", "btnLerDados", "Button6", "btnEnvia", "Button8", "Button3"};

} // namespace

class TestController : public QObject {
    Q_OBJECT
private slots:
    void startUpSelectsFirstPortAndDefaults()
    {
        CoreRig rig({"/dev/pts/7", "/dev/ttyS0"});
        QCOMPARE(rig.screen.items("cbPorta"), QStringList({"/dev/pts/7", "/dev/ttyS0"}));
        QCOMPARE(rig.screen.text("cbPorta"), QString("/dev/pts/7"));
        QCOMPARE(rig.screen.itemIndex("cbTipoRodaFonica"), 0);
        QCOMPARE(rig.screen.itemIndex("cbEscalaRpm"), 0);
        QCOMPARE(rig.screen.itemIndex("cbPontoZero"), 3);
        QCOMPARE(rig.screen.text("cbDentesPms"), QString("20"));
        QCOMPARE(rig.state().wv.lambdaLoadSource, std::int16_t(5));
        QCOMPARE(rig.state().wv.tpsMin, 130);
        QCOMPARE(rig.state().wv.tpsMax, 230);
        QVERIFY(!rig.state().portOpen());
        QVERIFY(!rig.state().percentView);
        QStringList rows;
        for (const QString &r : names::ignitionRowCaptions())
            rows << rig.screen.text(r);
        QCOMPARE(rows.join(' '), QString("500 900 1800 2600 3400 4200 5000 5800 6600"));
    }

    void noPortLeavesTheListEmptyAndTheTextAtBangs()
    {
        CoreRig rig;
        QVERIFY(rig.screen.items("cbPorta").isEmpty());
        QCOMPARE(rig.screen.text("cbPorta"), QString("!!"));
    }

    void stateTableAfterStartUp()
    {
        CoreRig rig;
        QCOMPARE(rig.screen.enabledOf(alwaysAfterStart), alwaysAfterStart);
        QCOMPARE(rig.screen.enabledOf(portButtons), QStringList());
        QVERIFY(!rig.screen.isEnabled("btnConfigurarTps"));
    }

    void stateTableOpenAndClose()
    {
        CoreRig rig;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        QVERIFY(rig.state().portOpen());
        QCOMPARE(rig.screen.enabledOf(portButtons), portButtons);
        QVERIFY(!rig.screen.isEnabled("btnAtivar"));
        QVERIFY(!rig.screen.isEnabled("btnConfigurarTps"));

        rig.c().ComPort1AfterClose();
        rig.c().portDeactivated();
        QVERIFY(!rig.state().portOpen());
        QCOMPARE(rig.screen.enabledOf(portButtons), QStringList());
        QVERIFY(rig.screen.isEnabled("btnAtivar"));
        QVERIFY(!rig.screen.isEnabled("btnConfigurarTps"));
    }

    void activationStopsTheCalibrationsSampling()
    {
        CoreRig rig;
        rig.state().tps = TpsPhase::Sampling;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        QCOMPARE(rig.state().tps, TpsPhase::Started);
    }

    void configurarTpsStaysOffAfterReactivationUntilATransferEnds()
    {
        CoreRig rig;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        rig.receive(26, {144, 0, 0, 0, 0, 0, 0, 0}); // a read-back ends
        QVERIFY(rig.screen.isEnabled("btnConfigurarTps"));
        rig.c().ComPort1AfterClose();
        rig.c().portDeactivated();
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        QVERIFY(!rig.screen.isEnabled("btnConfigurarTps"));
        rig.guarded([&] { rig.c().btnEnviaClick(); });
        for (int i = 0; i < 35; ++i)
            rig.guarded([&] { rig.c().Timer2Timer(); });
        QVERIFY(rig.screen.isEnabled("btnConfigurarTps"));
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // The screen is the master copy: what an upload sends, the ECU sends back in
    // the read-back, and the screen then shows the same texts again.
    void uploadThenReadBackRoundTripsThroughTheEcuLayout()
    {
        CoreRig rig;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        rig.screen.setText("e5", "17");
        rig.screen.setText("e40i", "12,3");
        rig.screen.setText("eCorrecaoIg105", "-7");
        rig.screen.setText("eLimiteRpm", "7200");
        rig.screen.setText("eTempoCarga", "4");
        rig.guarded([&] { rig.c().btnEnviaClick(); });
        for (int i = 0; i < 35; ++i)
            rig.guarded([&] { rig.c().Timer2Timer(); });
        QCOMPARE(rig.prompt.messages, QStringList());
        QCOMPARE(rig.port.writes.size(), 33);
        QByteArray image;
        for (int b = 0; b < 32; ++b) {
            QCOMPARE(std::uint8_t(rig.port.writes[b][0]), std::uint8_t(b + 1));
            image += rig.port.writes[b].mid(1);
        }
        QCOMPARE(rig.port.writes[32], QByteArray::fromHex("004861616161"));
        auto u = [&](int offset) { return std::uint8_t(image[offset]); };
        QCOMPARE(u(5), std::uint8_t(17));
        QCOMPARE(u(72 + 40), std::uint8_t(123));
        QCOMPARE(u(168 + 21), std::uint8_t(0xF9));
        QCOMPARE(u(239), std::uint8_t(72));
        QCOMPARE(u(243), std::uint8_t(160));

        CoreRig fresh;
        auto payload = [&](std::initializer_list<int> offsets) {
            std::array<std::uint8_t, 8> p{};
            int i = 0;
            for (int o : offsets)
                p[i++] = o < 0 ? 0 : u(o);
            return p;
        };
        for (int k = 1; k <= 18; ++k) {
            int base = 8 * (k - 1);
            fresh.receive(k, payload({base, base + 1, base + 2, base + 3, base + 4, base + 5, base + 6, base + 7}));
        }
        fresh.receive(20, payload({168, 171, 174, 177, 180, 183, 186, 189}));
        fresh.receive(24, payload({248, 249, 250, 251, 252, 253, 254, 255}));
        fresh.receive(25, payload({237, 238, 239, 240, 241, 245, 246, 242}));
        fresh.receive(26, payload({243, 244}));
        QCOMPARE(fresh.prompt.messages, QStringList());
        QCOMPARE(fresh.screen.text("e5"), QString("17"));
        QCOMPARE(fresh.screen.text("e40i"), QString("12,3"));
        QCOMPARE(fresh.screen.text("e0i"), QString("3,5"));
        QCOMPARE(fresh.screen.text("e6i"), QString("8,0")); // "8" comes back with its decimal
        QCOMPARE(fresh.screen.text("eCorrecaoIg105"), QString("-7"));
        QCOMPARE(fresh.screen.text("eLimiteRpm"), QString("7200"));
        QCOMPARE(fresh.screen.text("eTempoCarga"), QString("4,0"));
        QCOMPARE(fresh.screen.text("cbDentesPms"), QString("20"));
        QCOMPARE(fresh.screen.text("emSCorrecaoEletro"), QString("0,7"));
        QCOMPARE(fresh.screen.text("emSAr"), QString("1,0"));
        QVERIFY(!fresh.screen.isVisible("pnAguarde"));
    }

    // The read-back's time-out gives back only what the state of the moment allows,
    // never "Configurar &TPS"; closing the port ends a waiting read-back at once.
    void readBackTimeOutKeepsTheState_data()
    {
        QTest::addColumn<QString>("during");       // what happens while the read-back waits
        QTest::addColumn<QStringList>("enabled");  // transfer buttons enabled afterwards
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("busy"); // pnAguarde and Panel1 shown afterwards
        QStringList allButTps = names::transferButtons();
        allButTps.removeAll("btnConfigurarTps");
        const QStringList silent{QString::fromUtf8("Módulo não responde")};
        QTest::newRow("nothing comes") << "" << allButTps << silent << false;
        QTest::newRow("kind 1, then nothing") << "kind 1" << allButTps << silent << false;
        QTest::newRow("scanner switched on") << "scanner" << QStringList{"Button3"} << silent << false;
        QTest::newRow("upload started") << "upload" << QStringList() << silent << true;
        QTest::newRow("port closed")
            << "close" << QStringList{"btnAlterarMapas", "btnCarregar", "Button2", "btnSalvar", "Button1"}
            << QStringList() << false;
    }

    void readBackTimeOutKeepsTheState()
    {
        QFETCH(QString, during);
        QFETCH(QStringList, enabled);
        QFETCH(QStringList, messages);
        QFETCH(bool, busy);
        CoreRig rig;
        rig.c().ComPort1AfterOpen();
        rig.c().portActivated();
        rig.guarded([&] { rig.c().btnLerDadosClick(); });
        if (during == "kind 1")
            rig.receive(1, {10, 10, 6, 6, 6, 6, 6, 6});
        else if (during == "scanner")
            rig.guarded([&] { rig.c().Button3Click(); });
        else if (during == "upload")
            rig.guarded([&] { rig.c().btnEnviaClick(); });
        else if (during == "close") {
            rig.c().ComPort1AfterClose();
            rig.c().portDeactivated();
            QVERIFY(!rig.timerReadBack.isEnabled());
            QVERIFY(rig.screen.isEnabled("btnAtivar"));
        }
        for (int i = 0; i < 10; ++i)
            rig.guarded([&] { rig.c().TimerReadBackTimer(); });
        QCOMPARE(rig.prompt.messages, messages);
        QVERIFY(!rig.timerReadBack.isEnabled());
        QCOMPARE(rig.screen.enabledOf(names::transferButtons()), enabled);
        QCOMPARE(rig.screen.isVisible("pnAguarde"), busy);
        QCOMPARE(rig.screen.isVisible("Panel1"), busy);
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
