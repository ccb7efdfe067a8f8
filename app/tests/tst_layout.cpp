// The pages as a tuner sees them: nothing overlaps, nothing sticks out, every text
// fits, in every mode of the map page. Each case also leaves a picture of the page
// in the build folder (pages/*.png) for a person to look at.
#include "app/form1.h"
#include "app/qttimer.h"
#include "app/widgetscreen.h"
#include "common/controller.h"
#include "fakes.h"
#include "layoutcheck.h"
#include "link/scanner.h"

#include <QDir>
#include <QTabWidget>
#include <QtTest>

namespace {

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

class TstLayout : public QObject {
    Q_OBJECT
private slots:
    void page_data();
    void page();
    void readoutsHoldTheirWidestTexts();
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
        {"eRpm", "12000"},      {"eAvanco", "255°"},   {"eTi", "25,5  510"},       {"eValorTps", "5,00 "},
        {"ePresAtm", "5920"},   {"eCorPresAtm", "-128 %"}, {"eAtuadorML", "255"},   {"eTemperatura", "255"},
        {"eCorTemperatura", "-128 %"}, {"eCorAvanco", "-128 °"}, {"eValorSonda", "2550"}, {"eCorSondaCurto", "-128"},
        {"eCorSondaLongo", "-128"}, {"eColunaTps", "255"}, {"eValorMap", "255"},    {"eLinhaMapa", "-128"},
        {"e0", "50"},           {"e0i", "25,0"},        {"e71i", "97,2"},           {"e5i", " -3,4"},
        {"Label72", "100 %"},   {"Label57", "0 mbar"},  {"Label72", "-820"},        {"StaticText9", "9400"},
        {"Label46", " Valores em  \" % \" "}, {"Label46", " Valores em Ti \" mS \" "},
        {"Button3", "Desativar &Scanner"},
    };
    for (const auto &[name, text] : widest) {
        s.setText(name, text);
        const QString fault = layoutcheck::textProblem(s.widget(name));
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
}

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
