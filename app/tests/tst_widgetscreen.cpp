// The screen over the real widgets behaves as the core expects of it: texts, combo
// entries, enabled and visible states of controls and of the tab pages, colours,
// bars with bounds in either order, focus, and unknown names.
#include "app/form1.h"
#include "app/tgauge.h"
#include "app/widgetscreen.h"
#include "fakes.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QtTest>

namespace
{
struct Window {
    FakePrompt prompt;
    TForm1 form{&prompt, QStringList{}};
    WidgetScreen &s = form.widgetScreen();
};
} // namespace

class TstWidgetScreen : public QObject
{
    Q_OBJECT
private slots:
    void textsOfEveryKind_data();
    void textsOfEveryKind();
    void comboText_data();
    void comboText();
    void comboIndexOutsideTheList();
    void comboNewItems();
    void typedTextSelectsTheEqualEntry_data();
    void typedTextSelectsTheEqualEntry();
    void listBoxItems();
    void ownStatesWhileThePageIsHidden();
    void pagesAreTabs();
    void colours_data();
    void colours();
    void bars_data();
    void bars();
    void verticalSpeedBarFillsFromTheBottom();
    void focus();
    void unknownNameThrows();
};

void TstWidgetScreen::textsOfEveryKind_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("edit box") << "eLimiteRpm";
    QTest::newRow("map cell, longer than typing allows") << "e0i";
    QTest::newRow("combo box") << "cbSondaTipo";
    QTest::newRow("label") << "Label46";
    QTest::newRow("row caption") << "StaticText3";
    QTest::newRow("button") << "Button3";
    QTest::newRow("group box") << "GroupBox5";
    QTest::newRow("caption panel") << "pnColunaOkInj";
    QTest::newRow("read-out") << "eTi";
}

void TstWidgetScreen::textsOfEveryKind()
{
    QFETCH(QString, name);
    Window w;
    const QString text = QStringLiteral(" Valores em  \" % \" ; 12,5 ");
    w.s.setText(name, text);
    QCOMPARE(w.s.text(name), text);
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWidgetScreen::comboText_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index"); // selected entry after the text was written
    // Fixed choices: the entry follows the text, or none.
    QTest::newRow("scale 9400") << "cbEscalaRpm" << "9400" << 2;
    QTest::newRow("zero point 2") << "cbPontoZero" << "2" << 5;
    QTest::newRow("zero point -3") << "cbPontoZero" << "-3" << 0;
    QTest::newRow("zero point 5: none") << "cbPontoZero" << "5" << -1;
    QTest::newRow("tooth 99: none") << "cbDentesPms" << "99" << -1;
    QTest::newRow("combination, case counts") << "cbCombinacaoMapa" << "map x rpm" << -1;
    QTest::newRow("combination MAP X RPM") << "cbCombinacaoMapa" << "MAP X RPM" << 1;
    // Free text: the entry stays.
    QTest::newRow("free: probe type") << "cbSondaTipo" << "Banda Larga (1)" << 0;
    QTest::newRow("free: activity") << "cbSondaAtiva" << "outra" << 0;
}

void TstWidgetScreen::comboText()
{
    QFETCH(QString, combo);
    QFETCH(QString, text);
    QFETCH(int, index);
    Window w;
    w.s.setText(combo, text);
    QCOMPARE(w.s.itemIndex(combo), index);
    QCOMPARE(w.s.text(combo), text);
    QCOMPARE(w.s.get<QComboBox>(combo)->currentText(), text);
    // Writing a text runs no handler: the speed axis keeps its captions.
    QCOMPARE(w.s.text("StaticText9"), QStringLiteral("6600"));
    QCOMPARE(w.prompt.messages, QStringList());

    // The table screen of the core does the same.
    TableScreen table;
    table.setText(combo, text);
    QCOMPARE(table.itemIndex(combo), index);
    QCOMPARE(table.text(combo), text);
}

void TstWidgetScreen::comboIndexOutsideTheList()
{
    Window w;
    w.s.setItemIndex("cbPontoZero", 7);
    QCOMPARE(w.s.itemIndex("cbPontoZero"), -1);
    QCOMPARE(w.s.text("cbPontoZero"), QStringLiteral("0"));
    w.s.setItemIndex("cbPontoZero", -1);
    QCOMPARE(w.s.itemIndex("cbPontoZero"), -1);
    QCOMPARE(w.s.text("cbPontoZero"), QStringLiteral("0"));
    w.s.setItemIndex("cbPontoZero", 6);
    QCOMPARE(w.s.itemIndex("cbPontoZero"), 6);
    QCOMPARE(w.s.text("cbPontoZero"), QStringLiteral("3"));
}

void TstWidgetScreen::comboNewItems()
{
    Window w;
    w.s.setItems("cbDentesPms", {"8", "9", "10"});
    QCOMPARE(w.s.items("cbDentesPms"), (QStringList{"8", "9", "10"}));
    QCOMPARE(w.s.itemIndex("cbDentesPms"), -1);
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("20"));
    w.s.setItemIndex("cbDentesPms", 2);
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("10"));
    w.s.setItems("cbDentesPms", {});
    QCOMPARE(w.s.items("cbDentesPms"), QStringList());
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("10"));
}

void TstWidgetScreen::typedTextSelectsTheEqualEntry_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index");
    QTest::newRow("an entry") << "Banda Larga (1)" << 1;
    QTest::newRow("the start of an entry") << "Banda" << -1;
    QTest::newRow("an entry in other case") << "normal" << -1;
    QTest::newRow("another text") << "Outro" << -1;
}

void TstWidgetScreen::typedTextSelectsTheEqualEntry()
{
    QFETCH(QString, typed);
    QFETCH(int, index);
    Window w;
    auto *box = w.s.get<QComboBox>("cbSondaTipo");
    box->lineEdit()->clear();
    QTest::keyClicks(box, typed);
    QCOMPARE(w.s.text("cbSondaTipo"), typed);
    QCOMPARE(w.s.itemIndex("cbSondaTipo"), index);
    QCOMPARE(box->lineEdit()->cursorPosition(), typed.size());
    QCOMPARE(box->count(), 2); // Enter inserts nothing either
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->count(), 2);
}

void TstWidgetScreen::listBoxItems()
{
    Window w;
    w.s.setItems("ListBox1", {"1 2 3 ", "4 5 6 "});
    QCOMPARE(w.s.items("ListBox1"), (QStringList{"1 2 3 ", "4 5 6 "}));
    QCOMPARE(w.s.get<QListWidget>("ListBox1")->count(), 2);
    QVERIFY(!w.s.isVisible("ListBox1"));
}

void TstWidgetScreen::ownStatesWhileThePageIsHidden()
{
    Window w;
    w.form.show();
    // The map page is not the one shown, yet its controls keep their own states.
    QVERIFY(w.s.isVisible("btnAlterarMapas"));
    QVERIFY(w.s.isEnabled("btnAlterarMapas"));
    QVERIFY(w.s.isVisible("pbCarregando1")); // inside the hidden busy panel
    QVERIFY(!w.s.isVisible("pnAguarde"));
    w.s.setEnabled("TabSheet1", false);
    QVERIFY(w.s.isEnabled("btnAlterarMapas"));
    w.s.setEnabled("btnAlterarMapas", false);
    w.s.setEnabled("TabSheet1", true);
    QVERIFY(!w.s.isEnabled("btnAlterarMapas"));
}

void TstWidgetScreen::pagesAreTabs()
{
    Window w;
    QTabWidget *tabs = w.form.pages();
    QCOMPARE(w.s.text("TabSheet1"), QStringLiteral("Mapas e Scanner"));
    w.s.setVisible("TabSheet2", false);
    QVERIFY(!tabs->isTabVisible(1));
    QVERIFY(!w.s.isVisible("TabSheet2"));
    QCOMPARE(tabs->currentIndex(), 0);
    w.s.setVisible("TabSheet2", true);
    QVERIFY(tabs->isTabVisible(1));
    w.s.setEnabled("TabSheet1", false);
    QVERIFY(!tabs->isTabEnabled(0));
    QVERIFY(!w.s.isEnabled("TabSheet1"));
    w.s.setEnabled("TabSheet1", true);
    QVERIFY(tabs->isTabEnabled(0));
}

void TstWidgetScreen::colours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("backgroundRole");
    QTest::addColumn<int>("textRole");
    QTest::newRow("map cell") << "e17" << int(QPalette::Base) << int(QPalette::Text);
    QTest::newRow("read-out") << "eTi" << int(QPalette::Base) << int(QPalette::Text);
    QTest::newRow("label") << "Label46" << int(QPalette::Window) << int(QPalette::WindowText);
    QTest::newRow("button") << "Button3" << int(QPalette::Button) << int(QPalette::ButtonText);
}

void TstWidgetScreen::colours()
{
    QFETCH(QString, name);
    QFETCH(int, backgroundRole);
    QFETCH(int, textRole);
    Window w;
    QWidget *widget = w.s.widget(name);
    w.s.setColor(name, colors::red);
    w.s.setFontColor(name, colors::lime);
    QCOMPARE(w.s.color(name), colors::red);
    QCOMPARE(w.s.fontColor(name), colors::lime);
    QCOMPARE(widget->palette().color(QPalette::ColorRole(backgroundRole)), QColor(255, 0, 0));
    QCOMPARE(widget->palette().color(QPalette::ColorRole(textRole)), QColor(0, 255, 0));
    w.s.setColor(name, colors::black);
    QCOMPARE(widget->palette().color(QPalette::ColorRole(backgroundRole)), QColor(0, 0, 0));
}

void TstWidgetScreen::bars_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("position");
    QTest::addColumn<double>("fraction");
    QTest::newRow("inside") << 0 << 255 << 51 << 0.2;
    QTest::newRow("bounds the wrong way round") << 200 << 50 << 125 << 0.5;
    QTest::newRow("below: the low end") << 50 << 200 << 10 << 0.0;
    QTest::newRow("above: the high end") << 50 << 200 << 900 << 1.0;
    QTest::newRow("equal bounds, at them") << 100 << 100 << 100 << 1.0;
    QTest::newRow("equal bounds, below") << 100 << 100 << 99 << 0.0;
}

void TstWidgetScreen::bars()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, position);
    QFETCH(double, fraction);
    Window w;
    // The throttle bar takes a minimum above its maximum and the reverse.
    w.s.setBarMin("BarraTps", min);
    w.s.setBarMax("BarraTps", max);
    w.s.setBarPosition("BarraTps", position);
    QCOMPARE(w.s.barMin("BarraTps"), min);
    QCOMPARE(w.s.barMax("BarraTps"), max);
    QCOMPARE(w.s.barPosition("BarraTps"), position);
    QCOMPARE(w.s.get<TGauge>("BarraTps")->fraction(), fraction);
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWidgetScreen::verticalSpeedBarFillsFromTheBottom()
{
    Window w;
    auto *bar = w.s.get<TGauge>("Gauge3");
    QCOMPARE(bar->orientation(), Qt::Vertical);
    QCOMPARE(bar->fillColor(), QColor(Qt::white)); // the window colour
    QCOMPARE(bar->backColor(), QColor(0, 0, 255));
    bar->resize(10, 102);
    w.s.setBarPosition("Gauge3", 12); // a quarter of 0..48
    const QImage image = bar->grab().toImage();
    QCOMPARE(QColor(image.pixel(5, 95)), QColor(Qt::white)); // low part: filled
    QCOMPARE(QColor(image.pixel(5, 10)), QColor(0, 0, 255)); // high part: the bar colour
    QCOMPARE(w.s.get<TGauge>("Gauge4")->backColor(), QColor(255, 0, 0));
    QCOMPARE(w.s.get<TGauge>("Gauge2")->fillColor(), QColor(255, 0, 0));
    QCOMPARE(w.s.get<TGauge>("Gauge8")->fillColor(), QColor(0, 0, 255));
}

void TstWidgetScreen::focus()
{
    Window w;
    w.form.show();
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    w.s.setFocus("eLimiteRpm");
    QTRY_COMPARE(QApplication::focusWidget(), w.s.widget("eLimiteRpm"));
    // The program moving the focus runs no field check.
    w.s.setText("eLimiteRpm", "99999");
    w.s.setFocus("eTempoCarga");
    QCoreApplication::processEvents();
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWidgetScreen::unknownNameThrows()
{
    Window w;
    QVERIFY_THROWS_EXCEPTION(std::logic_error, w.s.text("eNoSuchControl"));
    QVERIFY_THROWS_EXCEPTION(std::logic_error, w.s.setBarMin("eRpm", 3)); // not a bar
    // Through the guard, such a fault is shown and the program goes on.
    w.form.guarded([&] { w.s.setText("eNoSuchControl", "1"); });
    QCOMPARE(w.prompt.messages, QStringList{"unknown control eNoSuchControl"});
}

QTEST_MAIN(TstWidgetScreen)
#include "tst_widgetscreen.moc"
