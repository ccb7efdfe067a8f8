// Cells of either map as a spreadsheet's: the block parser, copy, paste and the tools
// on a rectangle, checked against exact references.
#include "fakes.h"
#include "common/numtext.h"
#include "maps/cells.h"
#include "maps/mapblock.h"
#include "maps/maptools.h"
#include "maps/views.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstdlib>

Q_DECLARE_METATYPE(MapId)
Q_DECLARE_METATYPE(MapTool)

namespace {

QStringList mapTexts(const Screen &s, MapId map)
{
    QStringList t;
    for (int r = 0; r < mapRows; ++r)
        for (int c = 0; c < mapColumns; ++c)
            t << s.text(cells::cellName(map, r, c));
    return t;
}

QStringList allTexts(const Screen &s) { return mapTexts(s, MapId::Ignition) + mapTexts(s, MapId::Injection); }

// A block as "1 2;3 4" (rows by ';', values by ' ', decimal point).
QString blockText(const mapblock::Block &b)
{
    QStringList rows;
    for (const auto &row : b.rows) {
        QStringList values;
        for (long double v : row)
            values << QString::number(double(v));
        rows << values.join(' ');
    }
    return rows.join(';');
}

// Half away from zero of n / d, exactly (d > 0).
long long roundedRatio(long long n, long long d)
{
    const long long q = (2 * std::llabs(n) + d) / (2 * d);
    return n < 0 ? -q : q;
}

// Cell text in units of the map's resolution (tenths for injection in ms).
long long units(const QString &text, int factor) { return std::llround(double(numtext::parseFloat(text) * factor)); }

void fillRandom(Screen &s, MapId map, QRandomGenerator &rng)
{
    for (int r = 0; r < mapRows; ++r)
        for (int c = 0; c < mapColumns; ++c)
            s.setText(cells::cellName(map, r, c),
                      map == MapId::Ignition ? QString::number(rng.bounded(0, 51))
                                             : numtext::formatGeneral(rng.bounded(0, 251) / 10.0L));
}

CellRect randomRect(QRandomGenerator &rng)
{
    return CellRect::spanning(rng.bounded(mapRows), rng.bounded(mapColumns), rng.bounded(mapRows),
                              rng.bounded(mapColumns));
}

} // namespace

class TestMapTools : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("block");  // expected values, or empty when refused
        QTest::addColumn<int>("fault");      // Fault::Kind when refused
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("field");

        QTest::newRow("tabs, decimal comma, CRLF, trailing tab")
            << "3,5\t5,2\t\r\n3,1\t4,3\t\r\n" << "3.5 5.2;3.1 4.3" << -1 << 0 << 0 << "";
        QTest::newRow("tabs, LF, no line end at the end") << "1\t2\n3\t4" << "1 2;3 4" << -1 << 0 << 0 << "";
        QTest::newRow("semicolons, decimal comma") << "1,5;2\n3;4,25\n" << "1.5 2;3 4.25" << -1 << 0 << 0 << "";
        QTest::newRow("semicolon closing each row") << "1;2;\r\n3;4;\r\n" << "1 2;3 4" << -1 << 0 << 0 << "";
        QTest::newRow("spaces, decimal point, runs of blanks") << "1.5  2\n 3   4.5 \n" << "1.5 2;3 4.5" << -1 << 0
                                                               << 0 << "";
        QTest::newRow("old Mac line ends") << "1\t2\r3\t4\r" << "1 2;3 4" << -1 << 0 << 0 << "";
        QTest::newRow("several empty last lines") << "7\n\n\r\n" << "7" << -1 << 0 << 0 << "";
        QTest::newRow("blanks around tab-separated values") << " 1 \t -2,5 " << "1 -2.5" << -1 << 0 << 0 << "";
        QTest::newRow("one value") << "12" << "12" << -1 << 0 << 0 << "";
        QTest::newRow("no-break space after values") << QString::fromUtf8("8,5\u00a0\t3\u00a0\r\n") << "8.5 3" << -1
                                                     << 0 << 0 << "";
        QTest::newRow("no-break space between values") << QString::fromUtf8("1\u00a02\n3 4") << "1 2;3 4" << -1 << 0
                                                       << 0 << "";
        QTest::newRow("semicolon closing some rows") << "1;2;\n3;4\n" << "" << int(mapblock::Fault::Kind::EmptyCell)
                                                     << 0 << 2 << "";

        const int empty = int(mapblock::Fault::Kind::Empty), nan = int(mapblock::Fault::Kind::NotANumber),
                  ragged = int(mapblock::Fault::Kind::Ragged), blank = int(mapblock::Fault::Kind::EmptyCell);
        QTest::newRow("nothing") << "" << "" << empty << 0 << 0 << "";
        QTest::newRow("only line ends") << "\r\n\r\n" << "" << empty << 0 << 0 << "";
        QTest::newRow("a word") << "1\t2\n3\tabc\n" << "" << nan << 1 << 1 << "abc";
        QTest::newRow("empty field between tabs") << "1\t\t3" << "" << blank << 0 << 1 << "";
        QTest::newRow("blank field") << "1\t \t3" << "" << blank << 0 << 1 << "";
        // A tab closing only the first row is a real empty cell there, not a ragged row 2.
        QTest::newRow("empty last cell of row 1") << "1\t2\t\r\n4\t5\t6\r\n" << "" << blank << 0 << 2 << "";
        QTest::newRow("comma and point in one value") << "1.234,5" << "" << nan << 0 << 0 << "1.234,5";
        QTest::newRow("two points") << "1.2.3" << "" << nan << 0 << 0 << "1.2.3";
        QTest::newRow("short second row") << "1\t2\t3\n4\t5\n" << "" << ragged << 1 << 2 << "";
        QTest::newRow("long third row") << "1;2\n3;4\n5;6;7\n" << "" << ragged << 2 << 2 << "";
        QTest::newRow("empty line inside") << "1 2\n\n3 4" << "" << ragged << 1 << 0 << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, block);
        QFETCH(int, fault);
        const mapblock::Block b = mapblock::parse(text);
        if (fault < 0) {
            QVERIFY(!b.fault);
            QCOMPARE(blockText(b), block);
            return;
        }
        QVERIFY(b.fault);
        QVERIFY(b.rows.isEmpty());
        QCOMPARE(int(b.fault->kind), fault);
        QTEST(b.fault->row, "row");
        QTEST(b.fault->column, "column");
        QTEST(b.fault->text, "field");
    }

    void copyTextOfBothMaps()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        QCOMPARE(tools.copy(MapId::Ignition, CellRect::spanning(0, 0, 1, 2)), QString("10\t10\t6\n10\t10\t12"));
        QCOMPARE(tools.copy(MapId::Injection, CellRect::spanning(0, 5, 2, 7)),
                 QString("7,8\t8\t8,1\n7,6\t7,8\t8,1\n7,4\t7,8\t8,1"));
        rig.screen.setText("e0i", " 0,0"); // as the bulk change writes a zero
        QCOMPARE(tools.copy(MapId::Injection, CellRect{0, 0, 0, 0}), QString("0,0"));
    }

    void copyThenPasteGivesTheSameMap_data()
    {
        QTest::addColumn<MapId>("map");
        QTest::newRow("ignition") << MapId::Ignition;
        QTest::newRow("injection") << MapId::Injection;
    }
    void copyThenPasteGivesTheSameMap()
    {
        QFETCH(MapId, map);
        Rig rig;
        MapTools tools(rig.ctx);
        const QStringList before = allTexts(rig.screen);
        const QString text = tools.copy(map, CellRect::whole());
        rig.prompt.textAnswers = {QString("1")};
        tools.run(MapTool::SetValue, map, CellRect::whole());
        QVERIFY(allTexts(rig.screen) != before);
        tools.paste(map, CellRect{0, 0, 0, 0}, text);
        QCOMPARE(allTexts(rig.screen), before);
    }

    // In either view a copy then paste of any block leaves every cell exactly as it was
    // ("8,0" stays "8,0", a percent figure keeps its tenth, a read-back's 25,5 ms stays),
    // and so do the tools that change no value.
    void copyThenPasteOfAnyBlockInEitherView_data()
    {
        QTest::addColumn<bool>("percent");
        QTest::newRow("ms view") << false;
        QTest::newRow("percent view") << true;
    }
    void copyThenPasteOfAnyBlockInEitherView()
    {
        QFETCH(bool, percent);
        QRandomGenerator rng(2804);
        for (int round = 0; round < 300; ++round) {
            Rig rig;
            // As a read-back writes them: one decimal always, up to 25,5 ms.
            for (int k = 0; k < mapRows * mapColumns; ++k)
                rig.screen.setText(cells::cellName(MapId::Injection, k / mapColumns, k % mapColumns),
                                   numtext::formatFloat("0.0", rng.bounded(0, 256) / 10.0L));
            rig.screen.setText(cells::cellName(MapId::Injection, 8, 7), "25,5");
            if (percent)
                MapViews(rig.ctx).btnPercentualClick();
            MapTools tools(rig.ctx);
            const QStringList before = allTexts(rig.screen);
            const CellRect rect = randomRect(rng);
            const QString block = tools.copy(MapId::Injection, rect);
            rig.guarded([&] { tools.paste(MapId::Injection, CellRect{rect.top, rect.left, rect.top, rect.left}, block); });
            QCOMPARE(rig.prompt.messages, QStringList());
            QVERIFY2(allTexts(rig.screen) == before, qPrintable(QString("round %1: %2").arg(round).arg(block)));
            rig.prompt.textAnswers = {QString("100"), QString("0")};
            tools.run(MapTool::Multiply, MapId::Injection, rect);
            tools.run(MapTool::Add, MapId::Injection, rect);
            QVERIFY2(allTexts(rig.screen) == before, qPrintable(QString("round %1").arg(round)));
        }
    }

    void percentViewRoundsToWhatItShows()
    {
        Rig rig;
        MapViews(rig.ctx).btnPercentualClick();
        MapTools tools(rig.ctx);
        QCOMPARE(rig.screen.text("e0i"), QString("2,9")); // 3,5 ms x 5/6
        tools.paste(MapId::Injection, CellRect{0, 0, 0, 0}, "3,14");
        QCOMPARE(rig.screen.text("e0i"), QString("3,1"));
        // The range in the question grows with the row: 25 ms is 20,8 % in row 1, 300 % in row 9.
        rig.prompt.textAnswers = {std::nullopt};
        tools.run(MapTool::SetValue, MapId::Injection, CellRect::whole());
        QCOMPARE(rig.prompt.textQuestions,
                 QStringList("Valor para as células selecionadas (%; faixa de 0 a 20,8 % na linha 1, até 300 % na "
                             "linha 9).\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a 0,1 %."));
        rig.guarded([&] { tools.paste(MapId::Injection, CellRect{0, 0, 0, 0}, "20,9"); });
        QCOMPARE(rig.prompt.messages, QStringList(" Atenção ! !  Colar: 20,9 para a linha 1, coluna 1 do mapa de "
                                                  "injeção está fora da faixa de 0 a 20,8 %.  "));
    }

    // Every change the program makes to an injection cell keeps within one range.
    void oneUpperLimitForInjectionCells()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        QCOMPARE(double(cells::limits(MapId::Injection).max), 25.0);
        tools.paste(MapId::Injection, CellRect{0, 0, 0, 0}, "25");
        QCOMPARE(rig.screen.text("e0i"), QString("25"));
        rig.guarded([&] { tools.paste(MapId::Injection, CellRect{0, 1, 0, 1}, "25,1"); });
        QCOMPARE(rig.prompt.messages, QStringList(" Atenção ! !  Colar: 25,1 para a linha 1, coluna 2 do mapa de "
                                                  "injeção está fora da faixa de 0 a 25 mS.  "));
        rig.prompt.textAnswers = {QString("25,5")};
        tools.run(MapTool::SetValue, MapId::Injection, CellRect{0, 2, 0, 2});
        QCOMPARE(rig.screen.text("e2i"), QString("25"));
    }

    void portugueseSpreadsheetBlockPastesExactly()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        const QStringList before = mapTexts(rig.screen, MapId::Injection);
        // As a spreadsheet in Portuguese copies the default injection map: tabs, decimal
        // commas, CRLF and a tab closing every row.
        QString sheet;
        for (int r = 0; r < mapRows; ++r) {
            for (int c = 0; c < mapColumns; ++c)
                sheet += before[r * mapColumns + c] + '\t';
            sheet += "\r\n";
        }
        rig.prompt.textAnswers = {QString("0")};
        tools.run(MapTool::SetValue, MapId::Injection, CellRect::whole());
        tools.paste(MapId::Injection, CellRect{0, 0, 2, 3}, sheet);
        QCOMPARE(mapTexts(rig.screen, MapId::Injection), before);
    }

    void pasteLandsOnTheTopLeftAndFills()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        tools.paste(MapId::Ignition, CellRect::spanning(7, 6, 8, 7), "1\t2\r\n3\t4\r\n");
        QCOMPARE(tools.copy(MapId::Ignition, CellRect{7, 5, 8, 7}), QString("30\t1\t2\n30\t3\t4"));
        // One value fills the selection, each cell rounded to its resolution.
        tools.paste(MapId::Injection, CellRect{1, 1, 2, 2}, "4.25\n");
        QCOMPARE(tools.copy(MapId::Injection, CellRect{0, 0, 3, 3}),
                 QString("3,5\t5,2\t5,8\t6,4\n3,1\t4,3\t4,3\t6,2\n2,8\t4,3\t4,3\t6,2\n2,5\t3,8\t4,4\t6,2"));
        tools.paste(MapId::Ignition, CellRect{0, 0, 0, 0}, "12,5");
        QCOMPARE(rig.screen.text("e0"), QString("13"));
    }

    void refusedPasteLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<MapId>("map");
        QTest::addColumn<bool>("percent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const auto ign = MapId::Ignition, inj = MapId::Injection;
        QTest::newRow("not a number") << inj << false << "3,5\t4\r\n2\tx1\r\n"
                                      << " Atenção ! !  Colar: 'x1' para a linha 3, coluna 4 do mapa de injeção não é "
                                         "um número.  ";
        QTest::newRow("empty field") << ign << false << "10\t\t12"
                                     << " Atenção ! !  Colar: a célula da linha 1, coluna 2 do bloco está vazia (iria "
                                        "para a linha 2, coluna 4 do mapa de ignição).  ";
        QTest::newRow("empty last cell of row 1") << ign << false << "10\t11\t\r\n12\t13\t14\r\n"
                                                  << " Atenção ! !  Colar: a célula da linha 1, coluna 3 do bloco está "
                                                     "vazia (iria para a linha 2, coluna 5 do mapa de ignição).  ";
        QTest::newRow("no-break space then a letter") << inj << false << QString::fromUtf8("8,5\u00a0x\t1")
                                                      << QString::fromUtf8(" Atenção ! !  Colar: '8,5\u00a0x' para a "
                                                                           "linha 2, coluna 3 do mapa de injeção não "
                                                                           "é um número.  ");
        QTest::newRow("ignition above 50") << ign << false << "10 51"
                                           << " Atenção ! !  Colar: 51 para a linha 2, coluna 4 do mapa de ignição "
                                              "está fora da faixa de 0 a 50 graus.  ";
        QTest::newRow("ignition below 0") << ign << false << "10;-1"
                                          << " Atenção ! !  Colar: -1 para a linha 2, coluna 4 do mapa de ignição "
                                             "está fora da faixa de 0 a 50 graus.  ";
        QTest::newRow("injection above 25 ms") << inj << false << "25\n25,06"
                                               << " Atenção ! !  Colar: 25,06 para a linha 3, coluna 3 do mapa de "
                                                  "injeção está fora da faixa de 0 a 25 mS.  ";
        QTest::newRow("percent above 25 ms in row 3") << inj << true << "37,4\n75,6"
                                                      << " Atenção ! !  Colar: 75,6 para a linha 3, coluna 3 do mapa "
                                                         "de injeção está fora da faixa de 0 a 75 %.  ";
        QTest::newRow("too many rows") << ign << false << QString("1\n").repeated(9)
                                       << " Atenção ! !  Colar: o bloco de 9 x 1 valores não cabe no mapa a partir da "
                                          "linha 2, coluna 3 do mapa de ignição: a linha 10, coluna 3 do mapa de "
                                          "ignição ficaria fora do mapa (9 linhas, 8 colunas).  ";
        QTest::newRow("too many columns") << inj << false << "1\t2\t3\t4\t5\t6\t7\t"
                                          << " Atenção ! !  Colar: o bloco de 1 x 7 valores não cabe no mapa a partir "
                                             "da linha 2, coluna 3 do mapa de injeção: a linha 2, coluna 9 do mapa de "
                                             "injeção ficaria fora do mapa (9 linhas, 8 colunas).  ";
        QTest::newRow("ragged") << ign << false << "1 2 3\n4 5\n"
                                << " Atenção ! !  Colar: a linha 2 do bloco tem outro número de valores que a primeira "
                                   "(linha 3, coluna 5 do mapa de ignição).  ";
        QTest::newRow("nothing") << ign << false << "\r\n" << " Atenção ! !  Não há valores para colar.  ";
        QTest::newRow("far beyond the range") << ign << false << "1E4000"
                                              << " Atenção ! !  Colar: 1E4000 para a linha 2, coluna 3 do mapa de "
                                                 "ignição está fora da faixa de 0 a 50 graus.  ";
        QTest::newRow("beyond any number") << ign << false << "1E5000"
                                           << " Atenção ! !  Colar: '1E5000' para a linha 2, coluna 3 do mapa de "
                                              "ignição não é um número.  ";
    }
    void refusedPasteLeavesEverythingAsItWas()
    {
        QFETCH(MapId, map);
        QFETCH(bool, percent);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Rig rig;
        rig.state.percentView = percent;
        MapTools tools(rig.ctx);
        const QStringList before = allTexts(rig.screen);
        rig.guarded([&] { tools.paste(map, CellRect{1, 2, 1, 2}, text); });
        QCOMPARE(rig.prompt.messages, QStringList{message});
        QCOMPARE(allTexts(rig.screen), before);
    }

    void toolsRoundAndLimit_data()
    {
        QTest::addColumn<MapId>("map");
        QTest::addColumn<bool>("percent");
        QTest::addColumn<MapTool>("tool");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("result"); // row 0, columns 0..2 after the tool on them
        const auto ign = MapId::Ignition, inj = MapId::Injection;
        QTest::newRow("set ignition, half up") << ign << false << MapTool::SetValue << "12,5" << "13\t13\t13";
        QTest::newRow("set ignition, limited to 50") << ign << false << MapTool::SetValue << "99" << "50\t50\t50";
        QTest::newRow("add degrees") << ign << false << MapTool::Add << "-7" << "3\t3\t0";
        QTest::newRow("add ms, decimal point") << inj << false << MapTool::Add << "0.25" << "3,8\t5,5\t6,1";
        QTest::newRow("multiply ms by 110 %") << inj << false << MapTool::Multiply << "110" << "3,9\t5,7\t6,4";
        QTest::newRow("multiply ms, limited to 25") << inj << false << MapTool::Multiply << "500" << "17,5\t25\t25";
        QTest::newRow("multiply below zero gives 0") << inj << false << MapTool::Multiply << "-10" << "0\t0\t0";
        QTest::newRow("set percent, to 0,1 %") << inj << true << MapTool::SetValue << "12,46" << "12,5\t12,5\t12,5";
        QTest::newRow("set percent, limited in row 0") << inj << true << MapTool::SetValue << "25" << "20,8\t20,8\t20,8";
    }
    void toolsRoundAndLimit()
    {
        QFETCH(MapId, map);
        QFETCH(bool, percent);
        QFETCH(MapTool, tool);
        QFETCH(QString, amount);
        Rig rig;
        rig.state.percentView = percent;
        MapTools tools(rig.ctx);
        rig.prompt.textAnswers = {amount};
        tools.run(tool, map, CellRect{0, 0, 0, 2});
        QCOMPARE(rig.prompt.messages, QStringList());
        QTEST(tools.copy(map, CellRect{0, 0, 0, 2}), "result");
        QCOMPARE(rig.prompt.textQuestions.size(), 1);
    }

    void askedAmountsAndBadInput()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        const QStringList before = allTexts(rig.screen);
        rig.prompt.textAnswers = {std::nullopt, QString("1,2,3"), QString("")};
        tools.run(MapTool::Add, MapId::Ignition, CellRect::whole()); // cancelled
        rig.guarded([&] { tools.run(MapTool::Multiply, MapId::Injection, CellRect::whole()); });
        rig.guarded([&] { tools.run(MapTool::SetValue, MapId::Injection, CellRect::whole()); });
        QCOMPARE(rig.prompt.textQuestions,
                 QStringList({"Somar às células selecionadas (graus; negativo subtrai).\nCada célula fica na faixa de 0 "
                              "a 50 graus.\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a graus "
                              "inteiros.",
                              "Multiplicar as células selecionadas por (%; 110 aumenta 10 %).\nCada célula fica na "
                              "faixa de 0 a 25 mS.\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a 0,1 "
                              "mS.",
                              "Valor para as células selecionadas (mS; faixa de 0 a 25 mS).\nUse a vírgula decimal "
                              "(ex.: 8,5); o resultado é arredondado a 0,1 mS."}));
        QCOMPARE(rig.prompt.messages, QStringList({" Atenção ! !  '1,2,3' não é um número: nada mudou.  ",
                                                   " Atenção ! !  Nenhum número foi digitado: nada mudou.  "}));
        QCOMPARE(allTexts(rig.screen), before);

        // A cell that holds no number stops a tool that reads it, before any change.
        rig.screen.setText("e13", "1a");
        rig.guarded([&] { tools.run(MapTool::Smooth, MapId::Ignition, CellRect{0, 0, 0, 7}); });
        QCOMPARE(rig.prompt.messages.last(), QString("'1a' is not a valid floating point value\nO campo e13 (ignição "
                                                     "linha 2 coluna 6) contém \"1a\", que não é um número."));
        QCOMPARE(rig.screen.text("e0"), QString("10"));
        // Setting a value reads no cell: it mends one.
        rig.prompt.textAnswers = {QString("12")};
        tools.run(MapTool::SetValue, MapId::Ignition, CellRect{1, 5, 1, 5});
        QCOMPARE(rig.screen.text("e13"), QString("12"));
    }

    // Each tool that reads a cell holding no number stops before any change; its message
    // is the conversion's line, then the cell named with what it holds.
    void cellWithoutNumberNamedByEveryTool_data()
    {
        QTest::addColumn<MapTool>("tool");
        QTest::addColumn<MapId>("map");
        QTest::addColumn<bool>("percent");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString notNumber = QStringLiteral("'%1' is not a valid floating point value\nO campo %2 contém \"%1\", "
                                                 "que não é um número.");
        const QString empty =
            QStringLiteral("'%1' is not a valid floating point value\nO campo %2 está vazio: escreva um número.");
        QTest::newRow("interpolate, corner of the ignition map")
            << MapTool::Interpolate << MapId::Ignition << false << "e71" << "5O"
            << notNumber.arg("5O", "e71 (ignição linha 9 coluna 8)");
        QTest::newRow("smooth, injection neighbour") << MapTool::Smooth << MapId::Injection << false << "e9i" << "8.5"
                                                     << notNumber.arg("8.5", "e9i (injeção linha 2 coluna 2)");
        QTest::newRow("add, empty ignition cell")
            << MapTool::Add << MapId::Ignition << false << "e0" << "" << empty.arg("", "e0 (ignição linha 1 coluna 1)");
        QTest::newRow("multiply, percent view") << MapTool::Multiply << MapId::Injection << true << "e63i" << "12 %"
                                                << notNumber.arg("12 %", "e63i (injeção linha 8 coluna 8)");
    }
    void cellWithoutNumberNamedByEveryTool()
    {
        QFETCH(MapTool, tool);
        QFETCH(MapId, map);
        QFETCH(bool, percent);
        QFETCH(QString, cell);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Rig rig;
        rig.state.percentView = percent;
        MapTools tools(rig.ctx);
        rig.screen.setText(cell, text);
        const QStringList before = allTexts(rig.screen);
        rig.prompt.textAnswers = {QString("2")};
        rig.guarded([&] { tools.run(tool, map, CellRect::whole()); });
        QCOMPARE(rig.prompt.messages, QStringList{message});
        QCOMPARE(allTexts(rig.screen), before);
    }

    // Against the exact bilinear value in whole units, rounded half away from zero.
    void interpolationAgainstExactReference()
    {
        QRandomGenerator rng(2201);
        for (int round = 0; round < 400; ++round) {
            Rig rig;
            MapTools tools(rig.ctx);
            const MapId map = round % 2 ? MapId::Injection : MapId::Ignition;
            const int factor = map == MapId::Injection ? 10 : 1;
            fillRandom(rig.screen, map, rng);
            const CellRect rect = randomRect(rng);
            const QStringList before = mapTexts(rig.screen, map);
            auto at = [&](int r, int c) { return units(before[r * mapColumns + c], factor); };
            tools.run(MapTool::Interpolate, map, rect);
            const long long w = rect.columns() - 1, h = rect.rows() - 1;
            for (int r = 0; r < mapRows; ++r) {
                for (int c = 0; c < mapColumns; ++c) {
                    const QString got = rig.screen.text(cells::cellName(map, r, c));
                    if (!rect.contains(r, c)) {
                        QCOMPARE(got, before[r * mapColumns + c]);
                        continue;
                    }
                    const long long i = c - rect.left, j = r - rect.top;
                    const long long wi = w ? w : 1, hj = h ? h : 1;
                    const long long n = (hj - j) * ((wi - i) * at(rect.top, rect.left) + i * at(rect.top, rect.right)) +
                                        j * ((wi - i) * at(rect.bottom, rect.left) + i * at(rect.bottom, rect.right));
                    // A single row or column: the far side's weight is 0 there.
                    const long long want = roundedRatio(n, wi * hj);
                    QVERIFY2(units(got, factor) == want,
                             qPrintable(QString("round %1 cell %2,%3: %4").arg(round).arg(r).arg(c).arg(got)));
                }
            }
        }
    }

    void smoothingAgainstExactReference()
    {
        QRandomGenerator rng(2202);
        for (int round = 0; round < 400; ++round) {
            Rig rig;
            MapTools tools(rig.ctx);
            const MapId map = round % 2 ? MapId::Injection : MapId::Ignition;
            const int factor = map == MapId::Injection ? 10 : 1;
            fillRandom(rig.screen, map, rng);
            const CellRect rect = randomRect(rng);
            const QStringList before = mapTexts(rig.screen, map);
            tools.run(MapTool::Smooth, map, rect);
            for (int r = 0; r < mapRows; ++r) {
                for (int c = 0; c < mapColumns; ++c) {
                    const QString got = rig.screen.text(cells::cellName(map, r, c));
                    if (!rect.contains(r, c)) {
                        QCOMPARE(got, before[r * mapColumns + c]);
                        continue;
                    }
                    long long sum = 0, weight = 0;
                    for (int rr = 0; rr < mapRows; ++rr) {
                        for (int cc = 0; cc < mapColumns; ++cc) {
                            const int dist = std::max(std::abs(rr - r), std::abs(cc - c));
                            const int wgt = dist == 0 ? 4 : dist == 1 ? 1 : 0;
                            sum += wgt * units(before[rr * mapColumns + cc], factor);
                            weight += wgt;
                        }
                    }
                    QVERIFY2(units(got, factor) == roundedRatio(sum, weight),
                             qPrintable(QString("round %1 cell %2,%3: %4").arg(round).arg(r).arg(c).arg(got)));
                }
            }
        }
    }

    void interpolationOfOneRowAndOneColumn()
    {
        Rig rig;
        MapTools tools(rig.ctx);
        // Row 2 of the ignition map: 11 ... 25 along the row alone.
        tools.run(MapTool::Interpolate, MapId::Ignition, CellRect{2, 0, 2, 7});
        QCOMPARE(tools.copy(MapId::Ignition, CellRect{2, 0, 2, 7}), QString("11\t13\t15\t17\t19\t21\t23\t25"));
        // Column 0 of the injection map: 3,5 down to 2,2 over 9 rows.
        tools.run(MapTool::Interpolate, MapId::Injection, CellRect{0, 0, 8, 0});
        QCOMPARE(tools.copy(MapId::Injection, CellRect{0, 0, 8, 0}),
                 QString("3,5\n3,3\n3,2\n3\n2,9\n2,7\n2,5\n2,4\n2,2"));
    }
};

QTEST_GUILESS_MAIN(TestMapTools)
#include "tst_maptools.moc"
