// The upload: what each Timer2 tick writes, the busy panels and the transfer button
// set around it, and how a failing field or write stops it.
#include "link/transmitter.h"

#include "common/names.h"
#include "defaultimage.h"
#include "fakes.h"
#include "link/parameterimage.h"

#include <QtTest>

namespace {

const QByteArray endCommand = QByteArray::fromHex("004861616161");
const QString interrupted =
    QString::fromUtf8(" O envio foi interrompido: os dados não chegaram inteiros ao módulo. Envie novamente. ");

bool allTransferButtons(const FakeScreen &s, bool enabled)
{
    for (const QString &b : names::transferButtons())
        if (s.isEnabled(b) != enabled)
            return false;
    return true;
}

// An upload rig: the fakes, the image and the transmitter over them, with the port
// opened as after "&Ativar" (upload buttons enabled).
struct UploadRig : Rig {
    ParameterImage image{ctx};
    Transmitter tx{ctx, image};
    UploadRig()
    {
        for (const QString &b : names::transferButtons())
            screen.setEnabled(b, true);
        screen.setEnabled("btnAtivar", false);
        state.link = LinkState::Open;
        state.moduleKnown = true;
    }
    // Runs the ticks up to and including `last`, each through the window's guard.
    void ticksTo(int last)
    {
        while (tx.tickCounter() < last)
            guarded([&] { tx.Timer2Timer(); });
    }
};

QByteArray expectedUpload()
{
    const QByteArray img = defaultimage::image();
    QByteArray all;
    for (int n = 1; n <= 32; ++n)
        all += defaultimage::frame(img, n);
    return all + endCommand;
}

} // namespace

class TestTransmitter : public QObject {
    Q_OBJECT
private slots:
    void startShowsBusyAndLocks();
    void everyTick();
    void wholeStartupUpload();
    void tpsCalibrationLeavesPanelsAlone();
    void twoUploadsInARow();
    void refusedBeforeFirstFrame_data();
    void refusedBeforeFirstFrame();
    void blockFailsEndsTheUpload_data();
    void blockFailsEndsTheUpload();
    void editDuringUploadTravels();
    void gaugeLimitsAfterBlock31EvenIfLaterBlockFails();
    void refusedWriteEndsTheUpload_data();
    void refusedWriteEndsTheUpload();
    void noEntrySelectedIsRefused_data();
    void noEntrySelectedIsRefused();
    void noEntrySelectedDuringTheUploadStopsIt_data();
    void noEntrySelectedDuringTheUploadStopsIt();
};

void TestTransmitter::startShowsBusyAndLocks()
{
    UploadRig rig;
    rig.screen.setBarPosition("pbCarregando", 57);
    rig.tx.btnEnviaClick();
    for (const char *p : {"pnAguarde", "Panel1"})
        QVERIFY(rig.screen.isVisible(p));
    for (const char *b : {"pbCarregando", "pbCarregando1"}) {
        QCOMPARE(rig.screen.barMin(b), 0);
        QCOMPARE(rig.screen.barMax(b), 33);
        QCOMPARE(rig.screen.barPosition(b), 0);
    }
    QVERIFY(allTransferButtons(rig.screen, false));
    QVERIFY(!rig.screen.isEnabled("btnAtivar")); // the port is open
    QVERIFY(rig.timer2.isEnabled());
    QCOMPARE(rig.timer2.interval(), 1);
    QCOMPARE(int(rig.tx.tickCounter()), 0);
    QVERIFY(rig.port.writes.isEmpty());
    QVERIFY(rig.prompt.messages.isEmpty());
}

void TestTransmitter::everyTick()
{
    UploadRig rig;
    const QByteArray img = defaultimage::image();
    rig.tx.btnEnviaClick();
    for (int tick = 1; tick <= 35; ++tick) {
        const qsizetype before = rig.port.writes.size();
        rig.tx.Timer2Timer();
        QCOMPARE(int(rig.tx.tickCounter()), tick);
        QCOMPARE(rig.timer2.interval(), 50);
        QCOMPARE(rig.screen.barPosition("pbCarregando"), tick);
        QCOMPARE(rig.screen.barPosition("pbCarregando1"), tick);
        if (tick <= 32) {
            // One write per frame: block number, then its eight bytes.
            QCOMPARE(rig.port.writes.size(), before + 1);
            QCOMPARE(rig.port.writes.last().toHex(' '), defaultimage::frame(img, tick).toHex(' '));
            QVERIFY(rig.timer2.isEnabled());
            QVERIFY(rig.screen.isVisible("pnAguarde"));
            QVERIFY(allTransferButtons(rig.screen, false));
        } else if (tick < 35) {
            QCOMPARE(rig.port.writes.size(), before);
            QVERIFY(rig.timer2.isEnabled());
            QVERIFY(allTransferButtons(rig.screen, false));
        } else {
            QCOMPARE(rig.port.writes.size(), before + 1);
            QCOMPARE(rig.port.writes.last().toHex(' '), endCommand.toHex(' '));
            QVERIFY(!rig.timer2.isEnabled());
            QVERIFY(!rig.screen.isVisible("pnAguarde"));
            QVERIFY(!rig.screen.isVisible("Panel1"));
            QVERIFY(allTransferButtons(rig.screen, true));
        }
        if (tick == 30) {
            // The TPS bar keeps its limits until block 31 has gone.
            QCOMPARE(rig.screen.barMin("BarraTps"), 0);
            QCOMPARE(rig.screen.barMax("BarraTps"), 255);
        }
        if (tick == 31) {
            QCOMPARE(rig.screen.barMin("BarraTps"), 130 / 4);
            QCOMPARE(rig.screen.barMax("BarraTps"), 230);
        }
    }
    QVERIFY(rig.prompt.messages.isEmpty());
}

void TestTransmitter::wholeStartupUpload()
{
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(35);
    QCOMPARE(rig.port.writes.size(), 33);
    const QByteArray expected = expectedUpload();
    QCOMPARE(rig.port.allWritten().size(), 32 * 9 + 6);
    QCOMPARE(rig.port.allWritten().toHex(' '), expected.toHex(' '));
    // The frames the tuner's documentation lists for the start-up screen.
    using defaultimage::fromHex;
    const QList<QPair<int, QByteArray>> listed = {
        {1, fromHex("01 0A 0A 06 06 06 06 06 06")},  {10, fromHex("0A 23 34 3A 40 4A 4E 50 51")},
        {19, fromHex("13 37 32 2D 28 25 22 1E 1B")}, {24, fromHex("18 00 00 00 00 FF FE 00 00")},
        {29, fromHex("1D 00 00 37 46 52 05 05 1E")}, {30, fromHex("1E 05 05 1E 05 03 03 08 3C")},
        {31, fromHex("1F 05 06 00 90 00 82 E6 00")}, {32, fromHex("20 16 0F 57 50 07 14 0A 46")}};
    for (const auto &[n, frame] : listed)
        QCOMPARE(rig.port.writes.at(n - 1).toHex(' '), frame.toHex(' '));
    QVERIFY(rig.prompt.messages.isEmpty());
}

void TestTransmitter::tpsCalibrationLeavesPanelsAlone()
{
    UploadRig rig;
    rig.state.tps = TpsPhase::Sampling;
    rig.screen.setVisible("Panel1", true); // whatever the panels show stays
    rig.screen.setBarMax("pbCarregando1", 100);
    rig.tx.btnEnviaClick();
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    QVERIFY(rig.screen.isVisible("Panel1"));
    QCOMPARE(rig.screen.barMax("pbCarregando1"), 100);
    QVERIFY(allTransferButtons(rig.screen, false));
    rig.ticksTo(35);
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    QVERIFY(rig.screen.isVisible("Panel1"));
    // The calibration still holds the line: the buttons wait for its end.
    QVERIFY(allTransferButtons(rig.screen, false));
    QCOMPARE(rig.port.allWritten().toHex(' '), expectedUpload().toHex(' '));
}

void TestTransmitter::twoUploadsInARow()
{
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(35);
    rig.tx.btnEnviaClick();
    QCOMPARE(int(rig.tx.tickCounter()), 0);
    QCOMPARE(rig.timer2.interval(), 1);
    QVERIFY(rig.screen.isVisible("pnAguarde"));
    rig.ticksTo(35);
    QCOMPARE(rig.port.writes.size(), 66);
    QCOMPARE(rig.port.allWritten().toHex(' '), (expectedUpload() + expectedUpload()).toHex(' '));
    QVERIFY(!rig.timer2.isEnabled());
    QVERIFY(allTransferButtons(rig.screen, true));
    QVERIFY(rig.prompt.messages.isEmpty());
}

void TestTransmitter::refusedBeforeFirstFrame_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("message");
    QTest::newRow("Prepare: curve point") << "eCorrecaoTi30" << "3x" << 0
                                          << "'3x' is not a valid integer value\nO campo eCorrecaoTi30 (Correção Ti a 30 °C) contém \"3x\", que não é um número.";
    QTest::newRow("Prepare: fan increment") << "emSCorrecaoEletro" << "" << 0
                                            << "'' is not a valid floating point value\nO campo emSCorrecaoEletro (Eletro Ventilador: mS Ti) está vazio: escreva um número.";
    QTest::newRow("Prepare, calibration running") << "cbDentesPms" << "" << 1
                                                  << "'' is not a valid integer value\nO campo cbDentesPms (Dente PMS) está vazio: escreva um número.";
    QTest::newRow("block 11: empty injection cell") << "e12i" << "" << 0
                                                    << "'' is not a valid floating point value\nO campo e12i (injeção linha 2 coluna 5) está vazio: escreva um número.";
    QTest::newRow("block 32: last field") << "ePercentualAr" << "7O" << 0
                                          << "'7O' is not a valid integer value\nO campo ePercentualAr (Ar Condic.: Abre Atuador (%)) contém \"7O\", que não é um número.";
    QTest::newRow("block 30, calibration running") << "eBasico" << "3,55" << 1
                                                   << "'35,5' is not a valid integer value\nO campo eBasico (Aceler. Rápida: Curta) contém \"3,55\": use no máximo uma casa decimal.";
    QTest::newRow("range: ignition 300")
        << "e12" << "300" << 0
        << " Atenção ! !  O valor \"300\" do campo e12 está fora da faixa de 0 a 255. Nada foi enviado.  ";
    QTest::newRow("range: injection 30")
        << "e70i" << "30" << 0
        << " Atenção ! !  O valor \"30\" do campo e70i está fora da faixa de 0 a 25,5. Nada foi enviado.  ";
    QTest::newRow("range: rpm limit, calibration running")
        << "eLimiteRpm" << "99999" << 1
        << " Atenção ! !  O valor \"99999\" do campo eLimiteRpm está fora da faixa de -12899 a 25599. Nada foi "
           "enviado.  ";
}

void TestTransmitter::refusedBeforeFirstFrame()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, flag);
    QFETCH(QString, message);
    UploadRig rig;
    rig.state.tps = flag == 1 ? TpsPhase::Sampling : TpsPhase::None;
    rig.screen.setText(field, text);
    rig.screen.setVisible("Panel1", flag == 1); // with the flag set the panels are not touched
    rig.guarded([&] { rig.tx.btnEnviaClick(); });
    QCOMPARE(rig.prompt.messages, QStringList{message});
    QVERIFY(rig.port.writes.isEmpty());
    QVERIFY(!rig.timer2.isEnabled());
    QVERIFY(allTransferButtons(rig.screen, flag != 1)); // a calibration holds them until its end
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    QCOMPARE(rig.screen.isVisible("Panel1"), flag == 1);
    // The screen is usable again: mend the field and upload.
    rig.screen.setText(field, defaultimage::startText(field));
    rig.guarded([&] { rig.tx.btnEnviaClick(); });
    rig.ticksTo(35);
    QCOMPARE(rig.prompt.messages.size(), 1);
    QCOMPARE(rig.port.allWritten().toHex(' '), expectedUpload().toHex(' '));
}

void TestTransmitter::blockFailsEndsTheUpload_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty injection cell, second row") << "e9i" << "" << 11
        << "'' is not a valid floating point value\nO campo e9i (injeção linha 2 coluna 2) está vazio: escreva um número.";
    QTest::newRow("ignition cell") << "e0" << "x" << 1
        << "'x' is not a valid integer value\nO campo e0 (ignição linha 1 coluna 1) contém \"x\", que não é um número.";
    QTest::newRow("short quick acceleration") << "eBasico" << "3,55" << 30
        << "'35,5' is not a valid integer value\nO campo eBasico (Aceler. Rápida: Curta) contém \"3,55\": use no máximo uma casa decimal.";
    QTest::newRow("out of range at its tick")
        << "e12" << "300" << 2
        << " Atenção ! !  O valor \"300\" do campo e12 está fora da faixa de 0 a 255. O bloco 2 não foi enviado.  ";
    QTest::newRow("last block") << "eLigaEletro" << "" << 32
        << "'' is not a valid integer value\nO campo eLigaEletro (Eletro Ventilador: °C Liga) está vazio: escreva um número.";
}

void TestTransmitter::blockFailsEndsTheUpload()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, block);
    QFETCH(QString, message);
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(block - 1);
    rig.screen.setText(field, text); // edited while the upload runs
    rig.guarded([&] { rig.tx.Timer2Timer(); });
    // One message; the frames before stay written, no later frame, no end command.
    QCOMPARE(rig.prompt.messages, QStringList{message + "\n" + interrupted});
    const QByteArray img = defaultimage::image();
    QByteArray expected;
    for (int n = 1; n < block; ++n)
        expected += defaultimage::frame(img, n);
    QCOMPARE(rig.port.allWritten().toHex(' '), expected.toHex(' '));
    QVERIFY(!rig.timer2.isEnabled());
    QCOMPARE(int(rig.tx.tickCounter()), block);
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Interrupted);
    QVERIFY(allTransferButtons(rig.screen, true));
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    QVERIFY(!rig.screen.isVisible("Panel1"));
    // A new upload with the field mended sends the whole set.
    rig.port.writes.clear();
    rig.screen.setText(field, defaultimage::startText(field));
    rig.guarded([&] { rig.tx.btnEnviaClick(); });
    rig.ticksTo(35);
    QCOMPARE(rig.prompt.messages.size(), 1);
    QCOMPARE(rig.port.allWritten().toHex(' '), expectedUpload().toHex(' '));
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Completed);
}

void TestTransmitter::editDuringUploadTravels()
{
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(5);
    rig.screen.setText("e3", "20");          // block 1: already sent
    rig.screen.setText("e60i", "9,9");       // block 17: not yet
    rig.screen.setText("eLimiteRpm", "7000"); // block 30: not yet
    rig.screen.setText("eCorrecaoTi0", "10"); // curve: taken by the click
    rig.ticksTo(35);
    QVERIFY(rig.prompt.messages.isEmpty());
    QCOMPARE(rig.port.writes.at(0).toHex(' '), defaultimage::fromHex("01 0A 0A 06 06 06 06 06 06").toHex(' '));
    QCOMPARE(int(quint8(rig.port.writes.at(16).at(0))), 17);
    QCOMPARE(int(quint8(rig.port.writes.at(16).at(5))), 99);
    QCOMPARE(int(quint8(rig.port.writes.at(29).at(8))), 70);
    QCOMPARE(int(quint8(rig.port.writes.at(18).at(1))), 55);
}

void TestTransmitter::gaugeLimitsAfterBlock31EvenIfLaterBlockFails()
{
    UploadRig rig;
    rig.state.wv.tpsMin = 203;
    rig.state.wv.tpsMax = 225;
    rig.tx.btnEnviaClick();
    rig.ticksTo(31);
    rig.screen.setText("eDeslCutOff", "");
    rig.ticksTo(32);
    QCOMPARE(rig.prompt.messages, QStringList{"'' is not a valid integer value\nO campo eDeslCutOff (Cut Off: Desl. os Injet. (RPM)) está vazio: escreva um número.\n" + interrupted});
    QCOMPARE(rig.screen.barMin("BarraTps"), 50);
    QCOMPARE(rig.screen.barMax("BarraTps"), 225);
    QCOMPARE(rig.port.writes.size(), 31);
    QCOMPARE(int(quint8(rig.port.writes.at(30).at(6))), 203);
    QCOMPARE(int(quint8(rig.port.writes.at(30).at(7))), 225);
    QVERIFY(!rig.timer2.isEnabled());
}

void TestTransmitter::refusedWriteEndsTheUpload_data()
{
    QTest::addColumn<int>("tick"); // the tick whose write the port refuses
    QTest::newRow("frame 1") << 1;
    QTest::newRow("frame 4") << 4;
    QTest::newRow("frame 32") << 32;
    QTest::newRow("end command") << 35;
}

void TestTransmitter::refusedWriteEndsTheUpload()
{
    QFETCH(int, tick);
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(tick - 1);
    rig.port.failWrites = true;
    rig.guarded([&] { rig.tx.Timer2Timer(); });
    rig.port.failWrites = false;
    QCOMPARE(rig.prompt.messages, QStringList{"WriteFile function failed (win error code: 5)\n" + interrupted});
    // Only the frames before the refused one went out; the end command did not.
    QCOMPARE(rig.port.writes.size(), std::min(tick - 1, 32));
    for (int i = 0; i < rig.port.writes.size(); ++i)
        QCOMPARE(int(quint8(rig.port.writes.at(i).at(0))), i + 1);
    QVERIFY(!rig.timer2.isEnabled());
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Interrupted);
    QVERIFY(allTransferButtons(rig.screen, true));
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
    QVERIFY(!rig.screen.isVisible("Panel1"));
}

void TestTransmitter::noEntrySelectedIsRefused_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::newRow("zero point 5") << "cbPontoZero" << "5" << "Ponto  Zero";
    QTest::newRow("zero point empty") << "cbPontoZero" << "" << "Ponto  Zero";
    QTest::newRow("wheel type 60-2 with a blank") << "cbTipoRodaFonica" << "60-2 " << QString::fromUtf8("Tipo de Roda Fônica");
    QTest::newRow("speed scale 7000") << "cbEscalaRpm" << "7000" << "Escala de RPM Mapa";
}

void TestTransmitter::noEntrySelectedIsRefused()
{
    QFETCH(QString, combo);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    UploadRig rig;
    rig.screen.type(combo, text);
    QCOMPARE(rig.screen.itemIndex(combo), -1);
    rig.guarded([&] { rig.tx.btnEnviaClick(); });
    QCOMPARE(rig.prompt.messages,
             QStringList{QString::fromUtf8(" Atenção ! !  O valor \"%1\" do campo %2 não é um dos valores da lista. "
                                           "Selecione um dos Valores. Nada foi enviado.  ")
                             .arg(text, caption)});
    QVERIFY(rig.port.writes.isEmpty());
    QVERIFY(!rig.timer2.isEnabled());
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Refused);
    QVERIFY(allTransferButtons(rig.screen, true));
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
}

void TestTransmitter::noEntrySelectedDuringTheUploadStopsIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("typedAfterTick");
    QTest::newRow("\"05\" after frame 1") << "05" << 1;
    QTest::newRow("\"05\" after frame 30") << "05" << 30;
    QTest::newRow("empty after frame 12") << "" << 12;
    QTest::newRow("\"0 \" after frame 20") << "0 " << 20;
}

// A key typed into "Ponto  Zero" while the frames go out leaves no entry selected: the
// frame of block 31 would carry a value the box does not show, so the upload stops
// before it and the module keeps its previous set (no end command).
void TestTransmitter::noEntrySelectedDuringTheUploadStopsIt()
{
    QFETCH(QString, text);
    QFETCH(int, typedAfterTick);
    UploadRig rig;
    rig.tx.btnEnviaClick();
    rig.ticksTo(typedAfterTick);
    rig.screen.type("cbPontoZero", text);
    QCOMPARE(rig.screen.itemIndex("cbPontoZero"), -1);
    rig.ticksTo(31);
    QCOMPARE(rig.prompt.messages,
             QStringList{QString::fromUtf8(" Atenção ! !  O valor \"%1\" do campo Ponto  Zero não é um dos valores da "
                                           "lista. Selecione um dos Valores. O bloco 31 não foi enviado.  \n")
                                 .arg(text) +
                         interrupted});
    QCOMPARE(rig.port.writes.size(), 30);
    for (int i = 0; i < 30; ++i)
        QCOMPARE(rig.port.writes.at(i), defaultimage::frame(defaultimage::image(), i + 1));
    QVERIFY(!rig.timer2.isEnabled());
    QVERIFY(rig.tx.outcome() == Transmitter::Outcome::Interrupted);
    QVERIFY(allTransferButtons(rig.screen, true));
    QVERIFY(!rig.screen.isVisible("pnAguarde"));
}

QTEST_GUILESS_MAIN(TestTransmitter)
#include "tst_transmitter.moc"
