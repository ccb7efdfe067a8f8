// The tune as readable text: every field comes back exactly, and a text that is not a
// whole tune is refused naming its line.
#include "history/tunetext.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include <QtTest>

class TestTuneText : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tps");
        QTest::newRow("start-up values") << QString() << 130;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("decimal comma") << "3,6" << -5;
        QTest::newRow("blanks inside and at both ends") << "  1 0 " << 255;
        QTest::newRow("separators of the text") << " = |a|=b\\" << 2147483647;
        QTest::newRow("escape look-alikes") << "\\s\\n\\-\\|" << -2147483647 - 1;
        QTest::newRow("line ends and tab") << "a\nb\r\tc" << 1;
        QTest::newRow("comment and title look-alikes") << "# ignição:" << 7;
        QTest::newRow("accents and symbols") << "°C Liga ç ã é µ" << 99;
        QTest::newRow("other white space") << "\u00a0x\u00a0\v" << 42;
    }
    // Every field at once holds the text (with its field number, so that a field written
    // in another's place shows), and once the bare text; each comes back.
    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(int, tps);
        QList<Tune> tunes;
        if (QTest::currentDataTag() == QLatin1String("start-up values")) {
            tunes << startupTune();
        } else {
            Tune numbered, bare;
            for (int i = 0; i < 200; ++i) {
                numbered.texts << text + QString::number(i);
                bare.texts << text;
            }
            numbered.tpsMin = bare.tpsMin = tps;
            numbered.tpsMax = bare.tpsMax = ~tps; // the other end too, without overflow
            tunes << numbered << bare;
        }
        for (const Tune &t : tunes) {
            const QByteArray written = tunetext::write(t);
            const Tune back = tunetext::parse(written);
            QCOMPARE(back.texts, t.texts);
            QCOMPARE(back.tpsMin, t.tpsMin);
            QCOMPARE(back.tpsMax, t.tpsMax);
            QCOMPARE(tunetext::write(back), written);
        }
    }

    // What git log -p shows: a configuration field a line, the maps as tables under
    // their axes (the speed scale of the set), the TPS limits last.
    void readable()
    {
        Tune t = startupTune();
        t.texts[int(mapfile::fieldControls().indexOf(QStringLiteral("cbEscalaRpm")))] = QStringLiteral("8000");
        for (int c = 0; c < 8; ++c)
            t.texts[8 + 72 + 8 + c] = QString::number(c); // injection, row 2
        t.texts[8] = QStringLiteral("12,5");
        const QStringList lines = QString::fromUtf8(tunetext::write(t)).split(u'\n');
        QVERIFY(lines.contains(QStringLiteral("eLimiteRpm = 6000")));
        QVERIFY(lines.contains(QStringLiteral("cbCombinacaoMapa = TPS X RPM")));
        QVERIFY(lines.contains(QStringLiteral("emSCorrecaoEletro = 0,7")));
        QCOMPARE(lines.mid(lines.size() - 3), (QStringList{"tpsMin = 130", "tpsMax = 230", ""}));
        const qsizetype ignition = lines.indexOf(QStringLiteral("ignição:"));
        const qsizetype injection = lines.indexOf(QStringLiteral("injeção:"));
        QVERIFY(ignition > 0 && injection > ignition);
        QCOMPARE(lines[ignition + 1], QStringLiteral(" RPM | TPS 0 % |      14 |      28 |      42 |      56 |      70 |      84 |   100 %"));
        QVERIFY2(lines[ignition + 2].startsWith(QStringLiteral(" 500 |    12,5 |")), qPrintable(lines[ignition + 2]));
        QCOMPARE(lines[injection + 3], QStringLiteral(" 900 |       0 |       1 |       2 |       3 |       4 |       5 |       6 |       7"));
        QVERIFY2(lines[injection + 10].startsWith(QStringLiteral("8000 |")), qPrintable(lines[injection + 10]));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown field") << "eLimiteRpm = 6000" << "eLimite = 6000" << "linha 4: campo desconhecido: eLimite";
        QTest::newRow("no equals sign") << "eLimiteRpm = 6000" << "eLimiteRpm 6000"
                                        << "linha 4: falta \" = \" entre o nome e o valor";
        QTest::newRow("field twice") << "eLimiteRpm = 6000" << "eLimiteRpm = 6000\ncbDentesPms = 20"
                                     << "linha 5: o campo cbDentesPms aparece duas vezes";
        QTest::newRow("bad escape") << "eLimiteRpm = 6000" << "eLimiteRpm = 6\\x" << "linha 4: o valor de eLimiteRpm tem um \\ que não é de escape";
        QTest::newRow("tps not a number") << "tpsMin = 130" << "tpsMin = 13O" << "linha 83: tpsMin não é um número inteiro: 13O";
        QTest::newRow("tps with a plus") << "tpsMin = 130" << "tpsMin = +130" << "linha 83: tpsMin não é um número inteiro: +130";
        QTest::newRow("missing field") << "tpsMax = 230\n" << "" << "linha 84: faltam campos: tpsMax";
        QTest::newRow("row with 9 cells") << " 500 |" << " 500 | 1 |" << "linha 13: a linha do mapa tem 9 células em vez de 8";
        QTest::newRow("map with 8 rows") << "\n6600 |" << "\n\n6600 |" << "linha 21: o mapa de ignição tem 8 linhas em vez de 9";
    }
    void refused()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, message);
        QString text = QString::fromUtf8(tunetext::write(startupTune()));
        QVERIFY2(text.contains(from), qPrintable(from));
        text.replace(text.indexOf(from), from.size(), to);
        try {
            tunetext::parse(text.toUtf8());
            QFAIL("accepted");
        } catch (const tunetext::ParseError &e) {
            QCOMPARE(QString::fromUtf8(e.what()), message);
        }
    }

};

QTEST_GUILESS_MAIN(TestTuneText)
#include "tst_tunetext.moc"
