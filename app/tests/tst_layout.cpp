// The pages as a tuner sees them: nothing overlaps, nothing sticks out, every text
// fits, in every mode of the map page. Each case also leaves a picture of the page
// in the build folder (pages/*.png) for a person to look at.
#include "app/form1.h"
#include "app/layout.h"
#include "core/qttimer.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "common/names.h"
#include "fakes.h"
#include "layoutcheck.h"
#include "link/scanner.h"

#include <QDir>
#include <QTabWidget>
#include <QtTest>

namespace
{

enum class Mode { Config, Map, MapEdit, MapPercent, Scanner, Busy };

QString pagesFolder()
{
    const QString build = qEnvironmentVariable("VELTO_BUILD", QDir::currentPath());
    QDir(build).mkpath(QStringLiteral("pages"));
    return QDir(build).filePath(QStringLiteral("pages"));
}

// Live data as a running engine sends it: 92 °C, TPS 512, 3000 rpm, 6,5 ms, pump on.
void showLiveData(Controller &c)
{
    c.scanner().liveDataA({92, 120, 35, 45, 0x00, 0x02, 20, 17});
    c.scanner().liveDataB({28, 14, 16, 4, 9, 144, 1, 1});
    c.scanner().liveDataC({5, 251, 10, 0, 2, 1, 0, 0});
}

} // namespace

class TstLayout : public QObject
{
    Q_OBJECT
private slots:
    void page_data();
    void page();
    void readoutsHoldTheirWidestTexts();
    void mapCells();
    void mapsSideBySideWithTheirCaptions();
    void busyPanels_data();
    void busyPanels();
    void layoutCaptions_data();
    void layoutCaptions();
};

void TstLayout::page_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("file");
    QTest::newRow("configuration page") << int(Mode::Config) << "config-page.png";
    QTest::newRow("map page") << int(Mode::Map) << "map-page.png";
    QTest::newRow("map edit mode") << int(Mode::MapEdit) << "map-page-edit.png";
    QTest::newRow("map edit mode, percent view") << int(Mode::MapPercent) << "map-page-percent.png";
    QTest::newRow("scanner running") << int(Mode::Scanner) << "map-page-scanner.png";
    QTest::newRow("transfer running") << int(Mode::Busy) << "map-page-busy.png";
}

void TstLayout::page()
{
    QFETCH(int, mode);
    QFETCH(QString, file);
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{QStringLiteral("/dev/ttyUSB0")});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Controller &c = form.controller();
    WidgetScreen &s = form.widgetScreen();
    QWidget *page = s.widget(mode == int(Mode::Config) ? "TabSheet2" : "TabSheet1");
    form.pages()->setCurrentWidget(page);
    QStringList overlays = {"pnAguarde", "Panel1"};

    switch (Mode(mode)) {
    case Mode::Config:
    case Mode::Map:
        break;
    case Mode::MapEdit:
        c.btnAlterarMapasClick();
        break;
    case Mode::MapPercent:
        c.btnAlterarMapasClick();
        c.btnPercentualClick();
        break;
    case Mode::Scanner:
        c.Button3Click();
        form.timer1().setEnabled(false); // nothing is polled here
        showLiveData(c);
        break;
    case Mode::Busy:
        s.setVisible("pnAguarde", true);
        s.setBarPosition("pbCarregando1", 40);
        overlays.removeAll("pnAguarde");
        break;
    }
    // A change not saved: the label and the undo buttons show on both pages.
    s.setText("e71", "28");
    form.guarded([&] { c.fieldLeft(); });
    QVERIFY(!s.widget("lbNaoSalvo")->isHidden());
    QCoreApplication::processEvents();
    QVERIFY(prompt.messages.isEmpty());

    const QString path = QDir(pagesFolder()).filePath(file);
    QVERIFY(form.grab().save(path));

    QStringList faults = layoutcheck::problems(page, overlays);
    if (Mode(mode) == Mode::Busy) {
        // The busy panel covers the page on purpose; only its own contents count.
        faults = layoutcheck::problems(s.widget("pnAguarde"));
    }
    if (!faults.isEmpty())
        qWarning().noquote() << faults.join('\n');
    QCOMPARE(faults, QStringList());
}

void TstLayout::readoutsHoldTheirWidestTexts()
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    WidgetScreen &s = form.widgetScreen();
    const QList<std::pair<QString, QString>> widest = {
        {"eRpm", "12000"},
        {"eAvanco", "255°"},
        {"eTi", "25,5  510"},
        {"eValorTps", "5,00 "},
        {"ePresAtm", "5920"},
        {"eCorPresAtm", "-128 %"},
        {"eAtuadorML", "255"},
        {"eTemperatura", "255"},
        {"eCorTemperatura", "-128 %"},
        {"eCorAvanco", "-128 °"},
        {"eValorSonda", "2550"},
        {"eCorSondaCurto", "-128"},
        {"eCorSondaLongo", "-128"},
        {"eColunaTps", "255"},
        {"eValorMap", "255"},
        {"eLinhaMapa", "-128"},
        {"e0", "50"},
        {"e0i", "25,0"},
        {"e71i", "97,2"},
        {"e5i", " -3,4"},
        {"Label72", "100 %"},
        {"Label57", "0 mbar"},
        {"Label72", "-820"},
        {"StaticText9", "9400"},
        {"Label46", " Valores em  \" % \" "},
        {"Label46", " Valores em Ti \" mS \" "},
        {"Button3", "Desativar &Scanner"},
    };
    for (const auto &[name, text] : widest) {
        s.setText(name, text);
        const QString fault = layoutcheck::textProblem(s.widget(name));
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
}

void TstLayout::mapCells()
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    WidgetScreen &s = form.widgetScreen();
    for (const char *pattern : {"e%1", "e%1i"}) {
        const QRect origin = s.widget(QString::fromLatin1(pattern).arg(0))->geometry();
        for (int k = 0; k < 72; ++k) {
            auto *cell = s.get<QLineEdit>(QString::fromLatin1(pattern).arg(k));
            QCOMPARE(cell->geometry(), QRect(origin.x() + 40 * (k % 8), origin.y() + 21 * (k / 8), 40, 21));
            QVERIFY(!cell->hasFrame());
            QCOMPARE(cell->font().family(), QStringLiteral("Arial"));
            QCOMPARE(cell->font().pixelSize(), 16);
            QVERIFY(!cell->font().bold());
            QCOMPARE(cell->palette().color(QPalette::Base), QColor(Qt::black));
            QCOMPARE(cell->palette().color(QPalette::Text), QColor(Qt::yellow));
        }
    }
    for (const char *pattern : {"eC%1ig", "eC%1inj", "eL%1ig", "eL%1inj"})
        QCOMPARE(s.widget(QString::fromLatin1(pattern).arg(0))->size(), QSize(32, 21));
}

void TstLayout::mapsSideBySideWithTheirCaptions()
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    WidgetScreen &s = form.widgetScreen();
    const QRect ignition = s.widget("e0")->geometry().united(s.widget("e71")->geometry());
    const QRect injection = s.widget("e0i")->geometry().united(s.widget("e71i")->geometry());
    QCOMPARE(ignition.size(), QSize(320, 189));
    QCOMPARE(injection.top(), ignition.top());
    QVERIFY(injection.left() > ignition.right());
    QVERIFY(s.widget("e0")->parentWidget() == s.widget("TabSheet1"));
    for (int r = 0; r < 9; ++r) {
        for (const auto &[caption, grid] : {std::pair{QStringLiteral("StaticText%1").arg(r + 1), ignition},
                                            std::pair{QStringLiteral("StaticText%1").arg(r + 11), injection}}) {
            const QRect c = s.widget(caption)->geometry();
            QCOMPARE(c.center().y(), grid.top() + 21 * r + 10); // level with its row
            QVERIFY(c.right() < grid.left());                   // left of its map
            QVERIFY(c.left() > grid.left() - 60);
        }
    }
    QVERIFY(s.widget("StaticText10")->geometry().bottom() < ignition.top());
    QVERIFY(s.widget("StaticText10")->geometry().right() < ignition.left());
    for (int c = 0; c < 8; ++c) {
        const QRect ign = s.widget(names::ignitionColumnCaptions()[c])->geometry();
        const QRect inj = s.widget(names::injectionColumnCaptions()[c])->geometry();
        QCOMPARE(ign.center().x(), ignition.left() + 40 * c + 19);
        QCOMPARE(inj.center().x(), injection.left() + 40 * c + 19);
        QVERIFY(ign.bottom() < ignition.top());
        // Column change fields under their column, row change fields right of their row.
        QCOMPARE(s.widget(names::ignitionColumnField(c))->geometry().center().x(), ign.center().x());
        QVERIFY(s.widget(names::injectionColumnField(c))->geometry().top() > injection.bottom());
    }
    QVERIFY(s.widget("eL0ig")->geometry().left() > ignition.right());
    QVERIFY(s.widget("eL0inj")->geometry().left() > injection.right());
    QVERIFY(s.widget("pnColunaOkIgn")->geometry().bottom() < ignition.top());
    QVERIFY(s.widget("pnColunaOkInj")->geometry().left() > ignition.right());
    QCOMPARE(s.widget("Label46")->parentWidget(), s.widget("pnColunaOkInj"));
    QVERIFY(s.widget("GroupBox3")->geometry().left() > injection.right());
    // Load bars above and below, speed bars at the sides.
    QVERIFY(s.widget("Gauge8")->geometry().bottom() < ignition.top());
    QVERIFY(s.widget("Gauge1")->geometry().top() > ignition.bottom());
    QVERIFY(s.widget("Gauge3")->geometry().right() < ignition.left());
    QVERIFY(s.widget("Gauge7")->geometry().left() > ignition.right());
    QVERIFY(s.widget("Gauge2")->geometry().bottom() < injection.top());
    QVERIFY(s.widget("Gauge6")->geometry().top() > injection.bottom());
    QVERIFY(s.widget("Gauge5")->geometry().right() < injection.left());
    QVERIFY(s.widget("Gauge4")->geometry().left() > injection.right());
    // The map edit group spans the bottom of the page.
    const QRect edit = s.widget("GroupBox10")->geometry();
    QVERIFY(edit.width() > 900);
    QVERIFY(edit.bottom() > s.widget("TabSheet1")->height() - 20);
}

void TstLayout::busyPanels_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("page");
    QTest::newRow("map page") << "pnAguarde"
                              << "pbCarregando1"
                              << "TabSheet1";
    QTest::newRow("configuration page") << "Panel1"
                                        << "pbCarregando"
                                        << "TabSheet2";
}

void TstLayout::busyPanels()
{
    QFETCH(QString, panel);
    QFETCH(QString, bar);
    QFETCH(QString, page);
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    WidgetScreen &s = form.widgetScreen();
    form.pages()->setCurrentWidget(s.widget(page));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(s.widget(page)->size(), QSize(layout::pageWidth, layout::pageHeight));
    auto *p = s.get<QLabel>(panel);
    QCOMPARE(p->parentWidget(), s.widget(page));
    QVERIFY(!s.isVisible(panel));
    QCOMPARE(p->frameShadow(), QFrame::Raised);
    QVERIFY(p->autoFillBackground());
    const QPoint middle = s.widget(page)->rect().center();
    QVERIFY((p->geometry().center() - middle).manhattanLength() <= 4);
    QCOMPARE(s.widget(bar)->parentWidget(), p);
    QLabel *caption = nullptr;
    for (QLabel *l : p->findChildren<QLabel *>())
        if (l->text() == QStringLiteral("Aguarde !"))
            caption = l;
    QVERIFY(caption);
    QCOMPARE(caption->font().family(), QStringLiteral("Arial"));
    QCOMPARE(caption->palette().color(QPalette::WindowText), QColor(Qt::red));
    QLabel *pictureBox = nullptr;
    for (QLabel *l : p->findChildren<QLabel *>())
        if (!l->pixmap().isNull())
            pictureBox = l;
    QVERIFY(pictureBox);
    QCOMPARE(pictureBox->size(), QSize(276, 104));
    // Shown, it lies above every other control of its page.
    s.setVisible(panel, true);
    for (const QPoint &at :
         {middle, p->geometry().topLeft() + QPoint(3, 3), p->geometry().bottomRight() - QPoint(3, 3)}) {
        QWidget *top = s.widget(page)->childAt(at);
        QVERIFY(top == p || p->isAncestorOf(top));
    }
}

void TstLayout::layoutCaptions_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("caption");
    const char *config[] = {" Comunicação ",
                            " Configurações ",
                            " Sonda Lambda ",
                            " Correções Por Temperatura do Motor ",
                            " Pressão  Atmosférica ",
                            "  Eletro  Ventilador ",
                            " Cut Off ",
                            " Ar Condic. ",
                            "Temperatura da água",
                            "       0       15       30      45       60      75      90      105 °C",
                            " 820    880     940   1000",
                            "mbar",
                            "Graus",
                            "Lenta  Parcial  Plena",
                            "RPM",
                            "ms"};
    for (const char *c : config)
        QTest::newRow(c) << "TabSheet2" << QString::fromUtf8(c);
    const char *map[] = {" Informações ", " Aceler. Rápida ", " Alteração dos Mapas ", "Graus", "%"};
    for (const char *c : map)
        QTest::newRow(c) << "TabSheet1" << QString::fromUtf8(c);
}

void TstLayout::layoutCaptions()
{
    QFETCH(QString, page);
    QFETCH(QString, caption);
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    QWidget *p = form.widgetScreen().widget(page);
    QStringList found;
    for (QGroupBox *g : p->findChildren<QGroupBox *>())
        found << g->title();
    for (QLabel *l : p->findChildren<QLabel *>())
        found << l->text();
    QVERIFY2(found.contains(caption), qPrintable(caption));
}

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
