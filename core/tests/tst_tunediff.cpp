// The field-by-field difference of two parameter sets.
#include "core/tunediff.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include "core/controller.h"

#include <QtTest>

namespace {

Tune startTune()
{
    Tune t;
    for (int i = 0; i < 200; ++i)
        t.texts << QStringLiteral("0");
    return t;
}

} // namespace

class TestTuneDiff : public QObject {
    Q_OBJECT
private slots:
    void labels_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("label");
        QTest::newRow("first field") << 1 << "cbCombinacaoMapa" << QString::fromUtf8("Combinação dos Mapas");
        QTest::newRow("ignition cell 0") << 9 << "e0" << QString::fromUtf8("ignição linha 1 coluna 1");
        QTest::newRow("ignition cell 20") << 29 << "e20" << QString::fromUtf8("ignição linha 3 coluna 5");
        QTest::newRow("ignition cell 71") << 80 << "e71" << QString::fromUtf8("ignição linha 9 coluna 8");
        QTest::newRow("injection cell 0") << 81 << "e0i" << QString::fromUtf8("injeção linha 1 coluna 1");
        QTest::newRow("injection cell 71") << 152 << "e71i" << QString::fromUtf8("injeção linha 9 coluna 8");
        QTest::newRow("correction curve") << 177 << "eCorrecaoIg15" << QString::fromUtf8("Correção Avanço a 15 °C");
        QTest::newRow("zero point") << 197 << "cbPontoZero" << QString::fromUtf8("Ponto  Zero");
        QTest::newRow("last control") << 200 << "ePercEletro"
                                      << QString::fromUtf8("Eletro Ventilador: %  Atuador M. Lenta");
        QTest::newRow("tps min") << 201 << "tpsMin" << QString::fromUtf8("TPS mínimo");
        QTest::newRow("tps max") << 202 << "tpsMax" << QString::fromUtf8("TPS máximo");
    }
    void labels()
    {
        QFETCH(int, field);
        QFETCH(QString, control);
        QFETCH(QString, label);
        QCOMPARE(tunediff::fieldControl(field), control);
        QCOMPARE(tunediff::fieldLabel(field), label);
    }

    void everyFieldHasALabel()
    {
        for (int field = 1; field <= 202; ++field)
            QVERIFY2(!tunediff::fieldLabel(field).isEmpty(), qPrintable(tunediff::fieldControl(field)));
    }

    void mapsFirstThenConfigurationThenTps()
    {
        Tune a = startTune(), b = startTune();
        b.tpsMax = 231;
        b.texts[196] = QStringLiteral("2");    // cbPontoZero
        b.texts[0] = QStringLiteral("MAP X RPM");
        b.texts[8 + 72 + 3] = QStringLiteral("4,5"); // injection cell 3
        b.texts[8 + 2] = QStringLiteral("12");  // ignition cell 2
        const QList<tunediff::Difference> d = tunediff::compare(a, b);
        QStringList order;
        for (const auto &x : d)
            order << QStringLiteral("%1 %2 %3>%4").arg(x.field).arg(x.control, x.a, x.b);
        QCOMPARE(order, (QStringList{"11 e2 0>12", "84 e3i 0>4,5", "1 cbCombinacaoMapa 0>MAP X RPM",
                                     "197 cbPontoZero 0>2", "202 tpsMax 230>231"}));
        QVERIFY(tunediff::compare(a, a).isEmpty());
    }

    // Two sets are compared by what an upload sends: texts that encode to the same
    // bytes are equal, as a map file and what `read` saves of the same module are.
    void valuesNotTexts_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("text");   // in B, in place of the start-up text
        QTest::addColumn<bool>("listed");    // by compare
        QTest::newRow("injection 4 and 4,0") << "e17i" << "4,0" << false;
        QTest::newRow("injection 4 and 4,00") << "e17i" << "4,00" << false;
        QTest::newRow("injection 4 and 4,1") << "e17i" << "4,1" << true;
        QTest::newRow("ignition 10 and 010") << "e0" << "010" << false;
        QTest::newRow("RPM limit kept in hundreds") << "eLimiteRpm" << "6050" << false;
        QTest::newRow("RPM limit 6100") << "eLimiteRpm" << "6100" << true;
        QTest::newRow("charge time 3,6 and 3,60") << "eTempoCarga" << "3,60" << false;
        QTest::newRow("TPS rest, never sent, by text") << "eRepousoTps" << "129" << true;
        QTest::newRow("a text that cannot be sent") << "e5" << "abc" << true;
    }
    void valuesNotTexts()
    {
        QFETCH(QString, control);
        QFETCH(QString, text);
        QFETCH(bool, listed);
        const Tune a = startupTune();
        Tune b = a;
        const int field = int(mapfile::fieldControls().indexOf(control)) + 1;
        QVERIFY(field > 0);
        b.texts[field - 1] = text;
        const QList<tunediff::Difference> textual = tunediff::compareTexts(a, b);
        QCOMPARE(textual.size(), 1);
        QCOMPARE(textual.first().b, text);
        QCOMPARE(tunediff::compare(a, b), listed ? textual : QList<tunediff::Difference>{});
        // Either way round.
        QCOMPARE(tunediff::compare(b, a).size(), listed ? 1 : 0);
    }

    void tpsLimitsByValue()
    {
        const Tune a = startupTune();
        Tune b = a;
        b.tpsMax = 231;
        QCOMPARE(tunediff::compare(a, b).size(), 1);
        QCOMPARE(tunediff::compare(a, b).first().control, QStringLiteral("tpsMax"));
    }
};

QTEST_APPLESS_MAIN(TestTuneDiff)
#include "tst_tunediff.moc"
