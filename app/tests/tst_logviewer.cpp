// The log's viewer in the real window: it opens beside the window with the log, a click
// in a plot shows that row on the read-outs and the maps, the slider, playback and the
// arrow keys move its cursor, closing either side closes both, a refused log opens no
// viewer; the table per cell and channels the log does not hold.
#include "app/form1.h"
#include "app/logviewer.h"
#include "app/logviewerlink.h"
#include "app/logviewerpages.h"
#include "app/widgetscreen.h"
#include "common/names.h"
#include "common/screen.h"
#include "core/qttimer.h"
#include "datalog/datalog.h"
#include "fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <qcustomplot.h>

namespace {

// Row i: RPM 1000 + 10 i, a row every 100 ms, the engine walking through the map.
LiveValues valuesOf(int i)
{
    LiveValues v;
    v.rpm = 1000 + 10 * i;
    v.speedPosition = (i / 7) % 49;
    v.loadPosition = (i * 3) % 43;
    v.injectionTenths = 20 + i % 50;
    v.probeMv = 100 + (i * 37) % 800;
    v.temperature = 80 + i % 20;
    v.tpsReading = (i * 11) % 1024;
    v.markedCell = 8 * (v.speedPosition / 6) + v.loadPosition / 6;
    return v;
}

QByteArray logBytes(int rows)
{
    QByteArray bytes = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-12-09T02:00:00"));
    for (int i = 0; i < rows; ++i) {
        if (i == 120)
            bytes += logformat::marker(1, QStringLiteral("Marca 1"), 12000);
        bytes += logformat::row(std::int64_t(i) * 100, valuesOf(i));
    }
    return bytes;
}

} // namespace

class TestLogViewer : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path;
    FakePrompt prompt;
    std::unique_ptr<TForm1> form;

    LogViewer *viewer() { return form->logViewerLink().viewer(); }
    WidgetScreen &screen() { return form->widgetScreen(); }
    void open()
    {
        form->guarded([this] { form->datalog().openLog(path); });
        QVERIFY(viewer());
    }
    // A click at time t (seconds) in pane p, in the middle of its height.
    void clickAt(int p, double t)
    {
        QCustomPlot *plot = viewer()->panePlot(p);
        const QPoint at(int(std::lround(plot->xAxis->coordToPixel(t))), plot->axisRect()->center().y());
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at);
    }

private slots:
    void init()
    {
        path = dir.filePath(QStringLiteral("volta.msl"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(logBytes(500));
        f.close();
        prompt = FakePrompt();
        form = std::make_unique<TForm1>(&prompt, QStringList{});
        form->show();
    }
    void cleanup() { form.reset(); }

    void opensBesideTheWindowWithItsLog()
    {
        prompt.fileAnswers.push_back(path);
        QTest::mouseClick(screen().get<QAbstractButton>(QStringLiteral("btnAbrirRegistro")), Qt::LeftButton);
        QVERIFY(viewer());
        QCOMPARE(viewer()->windowTitle(), QString::fromUtf8(" Registro — volta.msl "));
        QVERIFY(viewer()->isVisible());
        QVERIFY(viewer()->isWindow());
        QCOMPARE(viewer()->paneCount(), 4);
        for (int p = 0; p < 4; ++p) {
            QCOMPARE(viewer()->paneChannels(p), LogViewer::defaultPanes()[p]);
            QVERIFY(viewer()->panePlot(p)->isVisible());
            QVERIFY(viewer()->panePlot(p)->height() >= 90);
        }
        QCOMPARE(viewer()->paneButton(2)->text(), QStringLiteral("Painel 3: Sonda, CorrCurto, CorrLongo"));
        // One moment lies at the same x in every pane.
        viewer()->replotAll();
        for (int p = 1; p < 4; ++p)
            QCOMPARE(viewer()->panePlot(p)->xAxis->coordToPixel(33.3), viewer()->panePlot(0)->xAxis->coordToPixel(33.3));
        QCOMPARE(viewer()->cursorRow(), std::size_t(0));
        QCOMPARE(viewer()->viewFrom(), 0.0);
        QCOMPARE(viewer()->viewTo(), 49.9);
        QCOMPARE(viewer()->markerList()->count(), 1);
        QCOMPARE(viewer()->markerList()->item(0)->text(), QStringLiteral("001 - Marca 1 - 00:12,0"));
        QVERIFY(prompt.messages.isEmpty());
    }

    void clickInAPlotShowsThatRow_data()
    {
        QTest::addColumn<int>("pane");
        QTest::addColumn<int>("row");
        QTest::newRow("RPM pane, row 123") << 0 << 123;
        QTest::newRow("probe pane, row 407") << 2 << 407;
        QTest::newRow("last pane, first row") << 3 << 0;
        QTest::newRow("last row") << 1 << 499;
    }
    void clickInAPlotShowsThatRow()
    {
        QFETCH(int, pane);
        QFETCH(int, row);
        open();
        const double t = row * 0.1;
        viewer()->setView(t - 2, t + 2); // 20 pixels a row or so
        viewer()->replotAll();
        clickAt(pane, t);
        const LiveValues v = valuesOf(row);
        QCOMPARE(form->datalog().row(), std::size_t(row));
        QCOMPARE(screen().barPosition(QStringLiteral("tbPosicao")), row);
        QCOMPARE(screen().text(QStringLiteral("eRpm")), QString::number(v.rpm));
        QCOMPARE(screen().text(QStringLiteral("eLinhaMapa")), QString::number(v.speedPosition));
        const int cell = 8 * (v.speedPosition / 6) + v.loadPosition / 6;
        QCOMPARE(screen().color(names::ignitionCell(cell)), colors::red);
        QCOMPARE(screen().color(names::injectionCell(cell)), colors::red);
        QCOMPARE(viewer()->cursorRow(), std::size_t(row));
        QCOMPARE(viewer()->legendText(0, 0),
                 QString::fromUtf8("RPM  %1 rpm   mín %2  máx %3")
                     .arg(v.rpm)
                     .arg(1000 + 10 * int(viewer()->columns().rowAtOrAfter(viewer()->viewFrom())))
                     .arg(1000 + 10 * int(viewer()->columns().rowAtOrBefore(viewer()->viewTo()))));
    }

    void sliderPlaybackAndKeysMoveTheCursor()
    {
        open();
        screen().setBarPosition(QStringLiteral("tbPosicao"), 250);
        QCOMPARE(viewer()->cursorRow(), std::size_t(250));
        QCOMPARE(screen().text(QStringLiteral("eRpm")), QStringLiteral("3500"));

        viewer()->setView(0, 10); // the cursor at 25 s lies outside: playback brings it in view
        QTest::mouseClick(screen().get<QAbstractButton>(QStringLiteral("btnReproduzir")), Qt::LeftButton);
        for (int i = 0; i < 4; ++i)
            form->datalog().TimerRegistroTimer(); // 4 ticks of 50 ms at 1x: 2 rows on
        QCOMPARE(form->datalog().row(), std::size_t(252));
        QCOMPARE(viewer()->cursorRow(), std::size_t(252));
        QVERIFY(viewer()->viewFrom() <= 25.2 && viewer()->viewTo() >= 25.2);
        QTest::mouseClick(screen().get<QAbstractButton>(QStringLiteral("btnReproduzir")), Qt::LeftButton);

        const std::pair<QKeySequence, int> keys[] = {{QKeySequence(Qt::Key_Right), 253},
                                                     {QKeySequence(Qt::SHIFT | Qt::Key_Right), 263},
                                                     {QKeySequence(Qt::SHIFT | Qt::Key_Left), 253},
                                                     {QKeySequence(Qt::Key_Left), 252}};
        for (const auto &[key, row] : keys) {
            QTest::keyClick(viewer()->panePlot(1), key[0].key(), key[0].keyboardModifiers());
            QCOMPARE(viewer()->cursorRow(), std::size_t(row));
            QCOMPARE(screen().barPosition(QStringLiteral("tbPosicao")), row);
            QCOMPARE(screen().text(QStringLiteral("eRpm")), QString::number(valuesOf(row).rpm));
        }
        screen().setBarPosition(QStringLiteral("tbPosicao"), 3);
        QTest::keyClick(viewer()->panePlot(0), Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(viewer()->cursorRow(), std::size_t(0));
        // A marker of the list takes the replay to it.
        QTest::mouseClick(viewer()->markerList()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          viewer()->markerList()->visualItemRect(viewer()->markerList()->item(0)).center());
        QCOMPARE(form->datalog().row(), std::size_t(120));
        QCOMPARE(viewer()->cursorRow(), std::size_t(120));
    }

    void zoomPanAndWholeLog()
    {
        open();
        viewer()->zoomAt(10, 0.5);
        QCOMPARE(viewer()->viewFrom(), 5.0);
        QCOMPARE(viewer()->viewTo(), 29.95);
        viewer()->panBy(-100); // stops at the start
        QCOMPARE(viewer()->viewFrom(), 0.0);
        QCOMPARE(viewer()->viewTo(), 24.95);
        QCustomPlot *plot = viewer()->panePlot(0);
        viewer()->replotAll();
        const QPoint mid = plot->axisRect()->center();
        // Drag to the left by 100 pixels: the view moves later in time.
        const double perPixel = (viewer()->viewTo() - viewer()->viewFrom()) / plot->axisRect()->width();
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, mid);
        QMouseEvent move(QEvent::MouseMove, QPointF(mid - QPoint(100, 0)), plot->mapToGlobal(QPointF(mid - QPoint(100, 0))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &move);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, mid - QPoint(100, 0));
        QCOMPARE(viewer()->viewFrom(), 100 * perPixel);
        QCOMPARE(form->datalog().row(), std::size_t(0)); // a drag is no click
        QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, mid);
        QCOMPARE(viewer()->viewFrom(), 0.0);
        QCOMPARE(viewer()->viewTo(), 49.9);
    }

    void closingEitherSideClosesBoth()
    {
        open();
        QPointer<LogViewer> first = viewer();
        first->close();
        QVERIFY(!form->datalog().isOpen());
        QVERIFY(!viewer());
        QVERIFY(!screen().isEnabled(QStringLiteral("btnFecharRegistro")));
        QTRY_VERIFY(first.isNull());

        open();
        QPointer<LogViewer> second = viewer();
        QTest::mouseClick(screen().get<QAbstractButton>(QStringLiteral("btnFecharRegistro")), Qt::LeftButton);
        QVERIFY(!viewer());
        QTRY_VERIFY(second.isNull());
        QVERIFY(prompt.messages.isEmpty());
    }

    void aRefusedLogOpensNoViewer()
    {
        const QString bad = dir.filePath(QStringLiteral("ruim.msl"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("nada aqui\n");
        f.close();
        prompt.fileAnswers.push_back(bad);
        QTest::mouseClick(screen().get<QAbstractButton>(QStringLiteral("btnAbrirRegistro")), Qt::LeftButton);
        QVERIFY(!viewer());
        QCOMPARE(prompt.messages,
                 QStringList{QString::fromUtf8("O registro %1 não tem a linha dos canais (Time ...). Nada foi aberto.")
                                 .arg(bad)});
        QVERIFY(!form->datalog().isOpen());
    }

    // The page per cell counts as the table of the core does; a click on a cell lists its
    // stays and takes the replay to the first.
    void cellPageShowsTheTableAndJumps()
    {
        open();
        CellPage *page = viewer()->cellPage();
        viewer()->pages()->setCurrentWidget(page);
        page->channelBox()->setCurrentText(QStringLiteral("RPM"));
        page->statBox()->setCurrentIndex(0); // amostras
        const logview::CellTable t = logview::cellTable(viewer()->columns(), 1, 0, 500);
        int filled = 0;
        for (int k = 0; k < 72; ++k) {
            const QString want = t.count[std::size_t(k)] ? QString::number(t.count[std::size_t(k)]) : "-";
            QCOMPARE(page->table()->item(k / 8, k % 8)->text(), want);
            filled += t.count[std::size_t(k)] > 0;
        }
        QVERIFY(filled > 20);
        QCOMPARE(page->table()->verticalHeaderItem(8)->text(), QStringLiteral("6600"));
        // Row 3 (speed 18..23: rows 126..167), column 2 (load 12..17).
        const int cell = 8 * 3 + 2;
        const std::vector<logview::Span> spans = logview::cellSpans(viewer()->columns(), cell, 0, 500);
        QVERIFY(!spans.empty());
        page->cellClicked(3, 2);
        QCOMPARE(page->spanList()->count(), int(spans.size()));
        QCOMPARE(form->datalog().row(), spans.front().row);
        QCOMPARE(viewer()->cursorRow(), spans.front().row);

        page->statBox()->setCurrentIndex(1); // média
        QCOMPARE(page->table()->item(3, 2)->text(),
                 displayNumber(t.sum[std::size_t(cell)] / double(t.count[std::size_t(cell)]), 2));
        // Only the visible stretch: the rows of 10 s to 20 s.
        viewer()->setView(10, 20);
        page->visibleOnly()->setChecked(true);
        const logview::CellTable part = logview::cellTable(viewer()->columns(), 1, 100, 201);
        for (int k = 0; k < 72; ++k)
            QCOMPARE(page->table()->item(k / 8, k % 8)->text(),
                     part.count[std::size_t(k)] ? displayNumber(part.sum[std::size_t(k)] / double(part.count[std::size_t(k)]), 2)
                                                : QStringLiteral("-"));
    }

    // Channels the log does not hold are neither drawn nor offered; an empty pane keeps
    // its name; a constant channel draws a flat line.
    void absentConstantAndEmpty()
    {
        logformat::Log log;
        for (int i = 0; i < 50; ++i)
            log.rows.push_back({std::int64_t(i) * 100, valuesOf(i)});
        for (auto &r : log.rows)
            r.values.temperature = 90;
        log.absent = QStringList{QStringLiteral("Abertura"), QStringLiteral("TPSV")};
        LogViewer v(log, QStringLiteral("/tmp/x.msl"), MapAxes{});
        QCOMPARE(v.paneChannels(1), QList<int>{3});
        QCOMPARE(v.paneChannels(3), QList<int>{7});
        QStringList offered;
        for (QAction *a : v.paneButton(0)->menu()->actions())
            if (a->isCheckable())
                offered << a->text();
        QCOMPARE(offered.size(), 22);
        QVERIFY(!offered.contains(QStringLiteral("Abertura")) && !offered.contains(QStringLiteral("TPSV")));
        QCOMPARE(v.legendText(3, 0), QString::fromUtf8("Temperatura  90 C   mín 90  máx 90"));
        v.setPaneChannels(0, {});
        QCOMPARE(v.paneButton(0)->text(), QStringLiteral("Painel 1: nenhum canal"));
        QCOMPARE(v.panePlot(0)->graphCount(), 0);
        v.setPaneChannels(0, {4, 14});
        QCOMPARE(v.paneChannels(0), QList<int>{14});
        QCOMPARE(v.cellPage()->channelBox()->findText(QStringLiteral("TPSV")), -1);
    }

    // A log without the load position: no row has a cell, so the table stays empty
    // and says why, rather than counting every row in the first cell.
    void cellPageWithoutAPosition()
    {
        const logformat::Log log = logformat::parse("Time\tRPM\tTi\tLinhaRPM\n0.1\t900\t2.5\t0\n0.2\t950\t2.6\t7\n",
                                                    QStringLiteral("outro.msl"));
        LogViewer v(log, QStringLiteral("outro.msl"), MapAxes{});
        CellPage *page = v.cellPage();
        page->statBox()->setCurrentIndex(0); // amostras
        for (int k = 0; k < 72; ++k)
            QCOMPARE(page->table()->item(k / 8, k % 8)->text(), QStringLiteral("-"));
        auto *note = page->findChild<QLabel *>(QStringLiteral("lbSemCelula"));
        QVERIFY(note);
        QCOMPARE(note->text(), QString::fromUtf8("O registro não tem o canal de posição Carga: sem ele, nenhuma leitura "
                                                 "tem célula do mapa."));
        // A log with both positions has no note.
        logformat::Log full;
        full.rows.push_back({0, valuesOf(1)});
        LogViewer w(full, QStringLiteral("um.msl"), MapAxes{});
        QVERIFY(!w.cellPage()->findChild<QLabel *>(QStringLiteral("lbSemCelula")));
    }

    // A log of one row: a second around it, its values in the legend.
    void aLogOfOneRow()
    {
        logformat::Log log;
        log.rows.push_back({5000, valuesOf(7)});
        LogViewer v(log, QStringLiteral("um.msl"), MapAxes{});
        QCOMPARE(v.viewFrom(), -0.5);
        QCOMPARE(v.viewTo(), 0.5);
        v.zoomAt(0, 0.5);
        v.panBy(3);
        QCOMPARE(v.viewTo(), 0.5);
        QCOMPARE(v.legendText(0, 0), QString::fromUtf8("RPM  1070 rpm   mín 1070  máx 1070"));
        QCOMPARE(v.panePlot(0)->graph(0)->dataCount(), 1);
        // Its point is drawn: a dot of the channel's colour where it lies.
        v.resize(800, 600);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        v.replotAll();
        QCustomPlot *plot = v.panePlot(0);
        const QImage image = plot->grab().toImage();
        const QPoint at(int(std::lround(plot->xAxis->coordToPixel(0))), int(std::lround(plot->yAxis->coordToPixel(1070))));
        int dot = 0;
        for (int dx = -3; dx <= 3; ++dx)
            for (int dy = -3; dy <= 3; ++dy)
                dot += image.pixelColor(at + QPoint(dx, dy)) == plot->graph(0)->pen().color();
        QVERIFY2(dot >= 9, qPrintable(QStringLiteral("%1 pixels of the dot").arg(dot)));
    }

    // Every value axis of a pane stands clear of the others: the third and later ones to
    // the right of the one before, and the pane's margin holds the last one.
    void valueAxesStandApart()
    {
        open();
        viewer()->setPaneChannels(1, {3, 4, 14, 7}); // Ti, Abertura, Sonda, Temperatura
        viewer()->replotAll();
        QCustomPlot *plot = viewer()->panePlot(1);
        const QList<QCPAxis *> right = plot->axisRect()->axes(QCPAxis::atRight);
        QCOMPARE(right.size(), 3);
        int clearFrom = 0; // the first pixel right of the plotting area clear of the axes before
        for (QCPAxis *axis : right) {
            QVERIFY2(axis->offset() >= clearFrom, qPrintable(QStringLiteral("%1 < %2").arg(axis->offset()).arg(clearFrom)));
            const QFontMetrics metrics(axis->tickLabelFont());
            int widest = 0;
            for (const QString &label : axis->tickVectorLabels())
                widest = std::max(widest, metrics.horizontalAdvance(label));
            QVERIFY(widest > 0);
            clearFrom = axis->offset() + axis->tickLengthOut() + axis->tickLabelPadding() + widest;
        }
        QVERIFY(plot->axisRect()->margins().right() >= clearFrom);
        // One moment still lies at the same x in every pane.
        for (int p = 0; p < 4; ++p)
            QCOMPARE(viewer()->panePlot(p)->xAxis->coordToPixel(33.3), plot->xAxis->coordToPixel(33.3));
    }

    // The plots write numbers as the legends do: a decimal comma, no group separator.
    void plotsWriteADecimalComma()
    {
        open();
        viewer()->setView(10, 10.5);
        viewer()->replotAll();
        const QList<QString> time = viewer()->panePlot(0)->xAxis->tickVectorLabels();
        QVERIFY(std::any_of(time.begin(), time.end(), [](const QString &t) { return t.contains(u','); }));
        QList<QString> all = time + viewer()->panePlot(0)->yAxis->tickVectorLabels();
        for (const QString &t : all)
            QVERIFY2(!t.contains(u'.'), qPrintable(t));
        QVERIFY(std::any_of(all.begin(), all.end(), [](const QString &t) { return t.toInt() >= 1000; }));
        viewer()->pages()->setCurrentWidget(viewer()->scatterPage());
        viewer()->scatterPage()->plot()->replot();
        QCOMPARE(viewer()->scatterPage()->plot()->locale().decimalPoint(), QStringLiteral(","));
    }

    // A wider window draws the curves with as many columns as the panes have now.
    void curvesFollowTheWidth()
    {
        logformat::Log log;
        for (int i = 0; i < 20000; ++i)
            log.rows.push_back({std::int64_t(i) * 10, valuesOf(i)});
        LogViewer v(log, QStringLiteral("longo.msl"), MapAxes{});
        v.resize(900, 700);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        QCoreApplication::processEvents();
        QCustomPlot *plot = v.panePlot(0);
        const auto reduced = [&] {
            v.replotAll();
            return int(logview::reduce(v.columns(), 1, v.viewFrom(), v.viewTo(), plot->axisRect()->width()).x.size());
        };
        const int narrow = plot->graph(0)->dataCount();
        QCOMPARE(narrow, reduced());
        v.resize(1800, 700);
        QCoreApplication::processEvents();
        QVERIFY(plot->graph(0)->dataCount() > narrow);
        QCOMPARE(plot->graph(0)->dataCount(), reduced());
    }

    // The stays listed for a cell are those within the rows counted: they follow "De:"
    // and "Até:" (without moving the replay); a click on one still goes there.
    void cellStaysFollowTheRowsCounted()
    {
        open();
        CellPage *page = viewer()->cellPage();
        viewer()->pages()->setCurrentWidget(page);
        const logview::LogColumns &columns = viewer()->columns();
        int cell = -1; // a cell the engine visits before the marker (row 120) and after it
        for (int k = 0; k < 72 && cell < 0; ++k)
            if (!logview::cellSpans(columns, k, 0, 120).empty() && !logview::cellSpans(columns, k, 120, 500).empty())
                cell = k;
        QVERIFY(cell >= 0);
        const auto listed = [&] {
            QStringList texts;
            for (int i = 0; i < page->spanList()->count(); ++i)
                texts << page->spanList()->item(i)->text();
            return texts;
        };
        const auto stays = [&](std::size_t first, std::size_t end) {
            QStringList texts;
            for (const logview::Span &s : logview::cellSpans(columns, cell, first, end))
                texts << QString::fromUtf8("%1 – %2  (%3 s)")
                             .arg(clockText(s.from), clockText(s.to), displayNumber(s.to - s.from, 1));
            return texts;
        };
        page->cellClicked(cell / 8, cell % 8);
        QCOMPARE(listed(), stays(0, 500));
        const std::size_t cursor = viewer()->cursorRow();
        page->fromBox()->setCurrentIndex(1); // De: Marca 1
        QCOMPARE(listed(), stays(120, 500));
        page->fromBox()->setCurrentIndex(0);
        page->toBox()->setCurrentIndex(0); // Até: Marca 1
        QCOMPARE(listed(), stays(0, 120));
        QVERIFY(stays(0, 120) != stays(0, 500));
        QCOMPARE(viewer()->cursorRow(), cursor);
        QListWidget *list = page->spanList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(0)).center());
        QCOMPARE(form->datalog().row(), logview::cellSpans(columns, cell, 0, 120).front().row);
    }

    // Panes that do not fit at their least height scroll; the window keeps its size.
    void panesScrollWhenTheyDoNotFit()
    {
        open();
        viewer()->resize(1000, 720);
        for (int i = 0; i < 8; ++i)
            viewer()->addPane({1});
        QCoreApplication::processEvents();
        QCOMPARE(viewer()->paneCount(), 12);
        auto *scroll = viewer()->findChild<QScrollArea *>(QStringLiteral("sbPaineis"));
        QVERIFY(scroll);
        QVERIFY(scroll->isAncestorOf(viewer()->panePlot(11)));
        QCOMPARE(viewer()->height(), 720);
        QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0); // laid out at the next turn of the event loop
        for (int p = 0; p < 12; ++p)
            QVERIFY(viewer()->panePlot(p)->height() >= 90);
    }
};

QTEST_MAIN(TestLogViewer)
#include "tst_logviewer.moc"
