// Checks of the configuration fields on leaving them, the key-press guard of the fixed
// combo boxes and the TDC tooth list that follows the wheel type.
#include "config/configfields.h"

#include "fakes.h"

#include <QtTest>

namespace {

// A screen that also logs what the handlers write, in order.
class LoggingScreen : public FakeScreen {
public:
    void setText(const QString &name, const QString &text) override
    {
        log << "text " + name + "=" + text;
        FakeScreen::setText(name, text);
    }
    void setFocus(const QString &name) override
    {
        log << "focus " + name;
        FakeScreen::setFocus(name);
    }
    QStringList log;
};

// The rig's fakes around a logging screen.
struct FieldRig {
    LoggingScreen screen;
    Rig rig;
    Context ctx{screen, rig.port, rig.prompt, rig.timer1, rig.timer2, rig.timerTps, rig.timerReadBack, rig.state, {}};
    ConfigFields fields{ctx};
    QStringList &messages() { return rig.prompt.messages; }
    void run(const QString &handler)
    {
        rig.guarded([&] {
            if (handler == "eTempoCarga")
                fields.eTempoCargaExit();
            else if (handler == "eLimiteRpm")
                fields.eLimiteRpmExit();
            else if (handler == "eAvancoPartida")
                fields.eAvancoPartidaExit();
            else if (handler == "eDeslCutOff")
                fields.eDeslCutOffExit();
            else if (handler == "eLigaCutOff")
                fields.eLigaCutOffExit();
            else
                QFAIL("unknown handler");
        });
    }
};

const QString cutOffOff = " Atenção ! !  Esse valor deve ser maior que o valor para ligar os injetores .   ";
const QString cutOffOn = " Atenção ! !  Esse valor deve ser menor que o valor para Desligar os injetores .   ";
const QString choose = " Atenção ! !  Selecione um dos Valores.  ";

// A field's conversion error: the runtime's message, then the field and its text.
QString notNumber(const QString &text, const QString &field)
{
    return QString::fromUtf8("'%1' is not a valid floating point value\nO campo %2 contém \"%1\", que não é um número.")
        .arg(text, field);
}
QString emptyField(const QString &text, const QString &field)
{
    return QString::fromUtf8("'%1' is not a valid floating point value\nO campo %2 está vazio: escreva um número.")
        .arg(text, field);
}

} // namespace

class TestConfigFields : public QObject {
    Q_OBJECT
private slots:
    void wholeSetCheck_data();
    void wholeSetCheck();
    void upperLimits_data();
    void upperLimits();
    void cutOffPair_data();
    void cutOffPair();
    void conversionErrors_data();
    void conversionErrors();
    void emptiedCutOffFailsNextTime();
    void fixedComboKeyPress_data();
    void fixedComboKeyPress();
    void wheelType_data();
    void wheelType();
    void wheelTypeSequence();
};

void TestConfigFields::upperLimits_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("limit");
    const QString coil = " Atenção ! !  Valor máximo 4 mS   ";
    const QString rpm = " Atenção ! !  Valor máximo 12.000 PRM   ";
    const QString advance = " Atenção ! !  Valor máximo 15 graus   ";
    QTest::newRow("coil 4") << "eTempoCarga" << "4" << "" << "4";
    QTest::newRow("coil 4,0") << "eTempoCarga" << "4,0" << "" << "4";
    QTest::newRow("coil 4,1") << "eTempoCarga" << "4,1" << coil << "4";
    QTest::newRow("coil 5") << "eTempoCarga" << "5" << coil << "4";
    QTest::newRow("coil 0") << "eTempoCarga" << "0" << "" << "4";
    QTest::newRow("coil negative") << "eTempoCarga" << "-1" << "" << "4";
    QTest::newRow("rpm 12000") << "eLimiteRpm" << "12000" << "" << "12000";
    QTest::newRow("rpm 12001") << "eLimiteRpm" << "12001" << rpm << "12000";
    QTest::newRow("rpm 99999") << "eLimiteRpm" << "99999" << rpm << "12000";
    QTest::newRow("rpm 12000,5") << "eLimiteRpm" << "12000,5" << rpm << "12000";
    QTest::newRow("rpm with blanks") << "eLimiteRpm" << " 6000 " << "" << "12000";
    QTest::newRow("advance 15") << "eAvancoPartida" << "15" << "" << "15";
    QTest::newRow("advance 16") << "eAvancoPartida" << "16" << advance << "15";
    QTest::newRow("advance -5") << "eAvancoPartida" << "-5" << "" << "15";
    QTest::newRow("advance 1E2") << "eAvancoPartida" << "1E2" << advance << "15";
}

void TestConfigFields::upperLimits()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, limit);
    FieldRig r;
    r.screen.setText(field, text);
    r.screen.log.clear();
    QString textWhileOpen;
    r.rig.prompt.onMessage = [&](const QString &) { textWhileOpen = r.screen.text(field); };
    r.run(field);
    if (message.isEmpty()) {
        QVERIFY(r.messages().isEmpty());
        QCOMPARE(r.screen.text(field), text);
        QVERIFY(r.screen.log.isEmpty());
        return;
    }
    QCOMPARE(r.messages(), QStringList{message});
    QCOMPARE(textWhileOpen, text); // the box is changed only after the message is closed
    const QStringList steps{"text " + field + "=", "focus " + field, "text " + field + "=" + limit};
    QCOMPARE(r.screen.log, steps);
    QCOMPARE(r.screen.text(field), limit);
    QCOMPARE(r.screen.lastFocus, field);
}

void TestConfigFields::cutOffPair_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<QString>("off"); // eDeslCutOff
    QTest::addColumn<QString>("on");  // eLigaCutOff
    QTest::addColumn<QString>("message");
    QTest::newRow("off 1500 on 1500, leaving off") << "eDeslCutOff" << "1500" << "1500" << "";
    QTest::newRow("off 1500 on 1500, leaving on") << "eLigaCutOff" << "1500" << "1500" << "";
    QTest::newRow("off 1400 on 1500, leaving off") << "eDeslCutOff" << "1400" << "1500" << cutOffOff;
    QTest::newRow("off 1400 on 1500, leaving on") << "eLigaCutOff" << "1400" << "1500" << cutOffOn;
    QTest::newRow("start-up, leaving off") << "eDeslCutOff" << "2200" << "1500" << "";
    QTest::newRow("start-up, leaving on") << "eLigaCutOff" << "2200" << "1500" << "";
    QTest::newRow("decimals count, leaving off") << "eDeslCutOff" << "1500" << "1500,5" << cutOffOff;
    QTest::newRow("decimals count, leaving on") << "eLigaCutOff" << "1500" << "1500,5" << cutOffOn;
    QTest::newRow("negative on passes") << "eLigaCutOff" << "0" << "-100" << "";
}

void TestConfigFields::cutOffPair()
{
    QFETCH(QString, handler);
    QFETCH(QString, off);
    QFETCH(QString, on);
    QFETCH(QString, message);
    FieldRig r;
    r.screen.setText("eDeslCutOff", off);
    r.screen.setText("eLigaCutOff", on);
    r.screen.log.clear();
    r.run(handler);
    if (message.isEmpty()) {
        QVERIFY(r.messages().isEmpty());
        QVERIFY(r.screen.log.isEmpty());
        QCOMPARE(r.screen.text("eDeslCutOff"), off);
        QCOMPARE(r.screen.text("eLigaCutOff"), on);
        return;
    }
    QCOMPARE(r.messages(), QStringList{message});
    // The box left stays empty with the focus; the other one is not touched.
    QCOMPARE(r.screen.log, (QStringList{"text " + handler + "=", "focus " + handler}));
    QCOMPARE(r.screen.text(handler), QString());
    const QString other = handler == "eDeslCutOff" ? "eLigaCutOff" : "eDeslCutOff";
    QCOMPARE(r.screen.text(other), handler == "eDeslCutOff" ? on : off);
}

void TestConfigFields::conversionErrors_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("otherText"); // for the cut-off pair: the other box
    QTest::addColumn<QString>("message");
    // The runtime's message, then the field named with what was written in it.
    const QString coil = QString::fromUtf8("Tempo de Carga (mS)"), rpm = "Limite de RPM",
                  advance = QString::fromUtf8("Avanço na Partida"), off = "Cut Off: Desl. os Injet. (RPM)",
                  on = "Cut Off: Liga os Injet. (RPM)";
    QTest::newRow("coil empty") << "eTempoCarga" << "eTempoCarga" << "" << "" << emptyField("", coil);
    QTest::newRow("coil with point") << "eTempoCarga" << "eTempoCarga" << "3.6" << "" << notNumber("3.6", coil);
    QTest::newRow("rpm letters") << "eLimiteRpm" << "eLimiteRpm" << "abc" << "" << notNumber("abc", rpm);
    QTest::newRow("advance empty") << "eAvancoPartida" << "eAvancoPartida" << "" << "" << emptyField("", advance);
    QTest::newRow("off empty") << "eDeslCutOff" << "eDeslCutOff" << "" << "1500" << emptyField("", off);
    QTest::newRow("off left, on empty") << "eDeslCutOff" << "eLigaCutOff" << "" << "2200" << emptyField("", on);
    QTest::newRow("on left, off not a number") << "eLigaCutOff" << "eDeslCutOff" << "22OO" << "1500"
                                               << notNumber("22OO", off);
    QTest::newRow("on left, both bad: on first") << "eLigaCutOff" << "eLigaCutOff" << "x" << "y" << notNumber("x", on);
    QTest::newRow("off left, both bad: off first") << "eDeslCutOff" << "eDeslCutOff" << "y" << "x"
                                                   << notNumber("y", off);
}

void TestConfigFields::conversionErrors()
{
    QFETCH(QString, handler);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, otherText);
    QFETCH(QString, message);
    FieldRig r;
    r.screen.setText(field, text);
    if (handler == "eDeslCutOff" || handler == "eLigaCutOff") {
        const QString other = field == "eDeslCutOff" ? "eLigaCutOff" : "eDeslCutOff";
        r.screen.setText(other, otherText);
    }
    const QString deslBefore = r.screen.text("eDeslCutOff");
    const QString ligaBefore = r.screen.text("eLigaCutOff");
    r.screen.log.clear();
    r.run(handler);
    QCOMPARE(r.messages(), QStringList{message});
    QVERIFY(r.screen.log.isEmpty()); // nothing emptied, no focus
    QCOMPARE(r.screen.text(field), text);
    QCOMPARE(r.screen.text("eDeslCutOff"), deslBefore);
    QCOMPARE(r.screen.text("eLigaCutOff"), ligaBefore);
}

void TestConfigFields::emptiedCutOffFailsNextTime()
{
    FieldRig r;
    r.screen.setText("eDeslCutOff", "1400");
    r.run("eDeslCutOff");
    QCOMPARE(r.messages(), QStringList{cutOffOff});
    r.run("eDeslCutOff");
    const QString off = "Cut Off: Desl. os Injet. (RPM)";
    QCOMPARE(r.messages(), (QStringList{cutOffOff, emptyField("", off)}));
    // And the other box now fails on the empty one.
    r.run("eLigaCutOff");
    QCOMPARE(r.messages().size(), 3);
    QCOMPARE(r.messages().last(), emptyField("", off));
}

void TestConfigFields::fixedComboKeyPress_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<bool>("guarded");
    QTest::newRow("cbCombinacaoMapa") << "cbCombinacaoMapa" << true;
    QTest::newRow("cbTipoRodaFonica") << "cbTipoRodaFonica" << true;
    QTest::newRow("cbDentesPms") << "cbDentesPms" << true;
    QTest::newRow("cbEscalaRpm") << "cbEscalaRpm" << true;
    QTest::newRow("cbPontoZero") << "cbPontoZero" << true;
    QTest::newRow("cbSondaTipo is free") << "cbSondaTipo" << false;
    QTest::newRow("cbSondaCorrecao is free") << "cbSondaCorrecao" << false;
    QTest::newRow("cbSondaAtiva is free") << "cbSondaAtiva" << false;
    QTest::newRow("cbRapidaTpsxMap is free") << "cbRapidaTpsxMap" << false;
}

void TestConfigFields::fixedComboKeyPress()
{
    QFETCH(QString, combo);
    QFETCH(bool, guarded);
    FieldRig r;
    const QString text = r.screen.text(combo);
    const int index = r.screen.itemIndex(combo);
    int focusWhileOpen = -1;
    r.rig.prompt.onMessage = [&](const QString &) { focusWhileOpen = r.screen.control(combo).focusCount; };
    r.rig.guarded([&] { r.fields.fixedComboKeyPress(combo); });
    if (!guarded) {
        QVERIFY(r.messages().isEmpty());
        QCOMPARE(r.screen.control(combo).focusCount, 0);
        return;
    }
    QCOMPARE(r.messages(), QStringList{choose});
    QCOMPARE(focusWhileOpen, 0); // the focus comes back after the message
    QCOMPARE(r.screen.control(combo).focusCount, 1);
    QCOMPARE(r.screen.lastFocus, combo);
    // The key is neither changed nor eaten by the handler; the box is left as it was.
    QCOMPARE(r.screen.text(combo), text);
    QCOMPARE(r.screen.itemIndex(combo), index);
}

void TestConfigFields::wheelType_data()
{
    QTest::addColumn<int>("wheel");         // selected entry of cbTipoRodaFonica
    QTest::addColumn<int>("offset");        // tooth offset
    QTest::addColumn<bool>("enabledBefore"); // cbDentesPms and cbPontoZero before
    QTest::addColumn<QStringList>("teeth");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text"); // shown text when an entry is selected
    QTest::addColumn<bool>("enabledAfter");
    QStringList teeth602, teeth361;
    for (int t = 12; t <= 27; ++t)
        teeth602 << QString::number(t);
    for (int t = 8; t <= 16; ++t)
        teeth361 << QString::number(t);
    QTest::newRow("36-1, offset 8") << 1 << 8 << true << teeth361 << 8 << "16" << true;
    QTest::newRow("60-2, offset 8") << 0 << 8 << true << teeth602 << 8 << "20" << true;
    QTest::newRow("60-2, offset 15") << 0 << 15 << true << teeth602 << 15 << "27" << true;
    QTest::newRow("60-2, offset 16: none") << 0 << 16 << true << teeth602 << -1 << "" << true;
    QTest::newRow("36-1, offset 9: none") << 1 << 9 << true << teeth361 << -1 << "" << true;
    QTest::newRow("36-1 enables") << 1 << 0 << false << teeth361 << 0 << "8" << true;
    QTest::newRow("60-2 enables") << 0 << 3 << false << teeth602 << 3 << "15" << true;
    QTest::newRow("2+2, offset 0") << 2 << 0 << true << QStringList{"0"} << 0 << "0" << false;
    QTest::newRow("2+2, offset 8: none") << 2 << 8 << true << QStringList{"0"} << -1 << "" << false;
    QTest::newRow("none selected keeps enabled") << -1 << 0 << true << QStringList{"0"} << 0 << "0" << true;
    QTest::newRow("none selected keeps disabled") << -1 << 0 << false << QStringList{"0"} << 0 << "0" << false;
}

void TestConfigFields::wheelType()
{
    QFETCH(int, wheel);
    QFETCH(int, offset);
    QFETCH(bool, enabledBefore);
    QFETCH(QStringList, teeth);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(bool, enabledAfter);
    FieldRig r;
    r.screen.setItemIndex("cbTipoRodaFonica", wheel);
    r.rig.state.wv.toothOffset = std::uint16_t(offset);
    r.screen.setEnabled("cbDentesPms", enabledBefore);
    r.screen.setEnabled("cbPontoZero", enabledBefore);
    r.rig.guarded([&] { r.fields.cbTipoRodaFonicaChange(); });
    QVERIFY(r.messages().isEmpty());
    QCOMPARE(r.screen.items("cbDentesPms"), teeth);
    QCOMPARE(r.screen.itemIndex("cbDentesPms"), index);
    // With no entry at the offset the box is empty, not the tooth of the old list.
    QCOMPARE(r.screen.text("cbDentesPms"), text);
    QCOMPARE(r.screen.isEnabled("cbDentesPms"), enabledAfter);
    QCOMPARE(r.screen.isEnabled("cbPontoZero"), enabledAfter);
    QCOMPARE(int(r.rig.state.wv.toothOffset), offset); // only read
}

void TestConfigFields::wheelTypeSequence()
{
    // "2+2" disables both boxes, "60-2" afterwards enables them again.
    FieldRig r;
    r.rig.state.wv.toothOffset = 0;
    r.screen.setItemIndex("cbTipoRodaFonica", 2);
    r.fields.cbTipoRodaFonicaChange();
    QCOMPARE(r.screen.items("cbDentesPms"), QStringList{"0"});
    QVERIFY(!r.screen.isEnabled("cbDentesPms"));
    QVERIFY(!r.screen.isEnabled("cbPontoZero"));
    r.screen.setItemIndex("cbTipoRodaFonica", 0);
    r.fields.cbTipoRodaFonicaChange();
    QCOMPARE(r.screen.items("cbDentesPms").size(), 16);
    QCOMPARE(r.screen.text("cbDentesPms"), QString("12"));
    QVERIFY(r.screen.isEnabled("cbDentesPms"));
    QVERIFY(r.screen.isEnabled("cbPontoZero"));
}

// The same rules on a whole set (the check before an upload from a file): the first
// refused field in page order with the page's message, then the TPS scales.
void TestConfigFields::wholeSetCheck_data()
{
    QTest::addColumn<QStringList>("changes"); // "control=text"
    QTest::addColumn<QString>("control");     // empty: accepted
    QTest::addColumn<QString>("message");
    const QString maxRefused = QString::fromUtf8(
        "%1 fora da faixa do TPS máximo (%2 a 250): lido de volta, o módulo daria o TPS mínimo no lugar.");
    QTest::newRow("start-up values") << QStringList{} << "" << "";
    QTest::newRow("limits themselves") << QStringList{"eLimiteRpm=12000", "eTempoCarga=4", "eAvancoPartida=15"}
                                       << "" << "";
    QTest::newRow("RPM 20000") << QStringList{"eLimiteRpm=20000"} << "eLimiteRpm"
                               << " Atenção ! !  Valor máximo 12.000 PRM   ";
    QTest::newRow("charge time 6,5") << QStringList{"eTempoCarga=6,5"} << "eTempoCarga"
                                     << " Atenção ! !  Valor máximo 4 mS   ";
    QTest::newRow("advance 16") << QStringList{"eAvancoPartida=16"} << "eAvancoPartida"
                                << " Atenção ! !  Valor máximo 15 graus   ";
    QTest::newRow("first in page order") << QStringList{"eAvancoPartida=16", "eLimiteRpm=20000"} << "eLimiteRpm"
                                         << " Atenção ! !  Valor máximo 12.000 PRM   ";
    QTest::newRow("cut-off reversed") << QStringList{"eDeslCutOff=1400"} << "eDeslCutOff" << cutOffOff;
    QTest::newRow("cut-off equal") << QStringList{"eDeslCutOff=1500"} << "" << "";
    // The read-back takes a TPS maximum from 1 to 250, not below the minimum / 4.
    QTest::newRow("TPS maximum 250") << QStringList{"tpsMax=250"} << "" << "";
    QTest::newRow("TPS maximum 251") << QStringList{"tpsMax=251"} << "tpsMax" << maxRefused.arg("251", "32");
    QTest::newRow("TPS maximum 255") << QStringList{"tpsMax=255"} << "tpsMax" << maxRefused.arg("255", "32");
    QTest::newRow("TPS maximum 2000") << QStringList{"tpsMax=2000"} << "tpsMax" << maxRefused.arg("2000", "32");
    QTest::newRow("TPS maximum 31") << QStringList{"tpsMax=31"} << "tpsMax" << maxRefused.arg("31", "32");
    QTest::newRow("TPS maximum 0, minimum 0") << QStringList{"tpsMin=0", "tpsMax=0"} << "tpsMax"
                                              << maxRefused.arg("0", "1");
    QTest::newRow("TPS minimum 1023") << QStringList{"tpsMin=1023"} << "" << "";
    QTest::newRow("TPS minimum -1") << QStringList{"tpsMin=-1"} << "tpsMin"
                                    << "-1 fora da escala do sensor (0 a 1023): o módulo guardaria outro valor.";
    QTest::newRow("not a number") << QStringList{"eLimiteRpm=abc"} << "throws" << notNumber("abc", "Limite de RPM");
}

void TestConfigFields::wholeSetCheck()
{
    QFETCH(QStringList, changes);
    QFETCH(QString, control);
    QFETCH(QString, message);
    QHash<QString, QString> texts{{"eLimiteRpm", "6000"},  {"eTempoCarga", "3,6"}, {"eAvancoPartida", "6"},
                                  {"eDeslCutOff", "2200"}, {"eLigaCutOff", "1500"}, {"tpsMin", "130"},
                                  {"tpsMax", "230"}};
    for (const QString &c : changes)
        texts[c.section('=', 0, 0)] = c.section('=', 1);
    const auto textOf = [&](const QString &c) { return texts.value(c); };
    if (control == "throws") {
        try {
            configcheck::firstRefusal(textOf);
            QFAIL("no conversion error");
        } catch (const std::exception &e) {
            QCOMPARE(QString::fromUtf8(e.what()), message);
        }
        return;
    }
    const auto refused = configcheck::firstRefusal(textOf);
    QCOMPARE(refused.has_value(), !control.isEmpty());
    if (refused) {
        QCOMPARE(refused->control, control);
        QCOMPARE(refused->message, message);
    }
}

QTEST_GUILESS_MAIN(TestConfigFields)
#include "tst_configfields.moc"
