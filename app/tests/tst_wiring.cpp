// The window's handlers: port activation on a missing port and on a real line, the
// field checks on leaving a field, the key-press guard, the change handlers of the
// wheel type and speed scale, the timers and the receive path.
#include "app/form1.h"
#include "core/qttimer.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "fakes.h"
#include "ptyline.h"
#include "serial/comport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

namespace
{

// A port whose modem lines cannot be read once it is open.
class ModemLinesFail : public TComPort
{
protected:
    void checkModemStatus() override { throw EComPort(EComPort::ModemStatusFailed, 5); }
};

struct Window {
    explicit Window(const QStringList &ports = {}, std::unique_ptr<TComPort> port = nullptr)
        : form(&prompt, ports, std::move(port))
    {
    }
    FakePrompt prompt;
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    template <typename T> T *get(const QString &name) { return s.get<T>(name); }
    void click(const QString &button)
    {
        auto *b = get<QPushButton>(button);
        QVERIFY2(b->isEnabled(), qPrintable(button));
        b->click();
    }
    bool enabled(const QString &name) { return s.isEnabled(name); }
};

void focusOut(QWidget *w, Qt::FocusReason reason)
{
    QFocusEvent out(QEvent::FocusOut, reason);
    QCoreApplication::sendEvent(w, &out);
    QCoreApplication::processEvents(); // the check runs once the focus has settled
}

const QString tooHighCharge = QStringLiteral(" Atenção ! !  Valor máximo 4 mS   ");
const QString chooseOne = QStringLiteral(" Atenção ! !  Selecione um dos Valores.  ");

const QStringList portButtons = {"btnDesativar", "Button3", "btnLerDados", "Button6", "btnEnvia", "Button8"};

} // namespace

Q_DECLARE_METATYPE(Qt::FocusReason)

class TstWiring : public QObject
{
    Q_OBJECT
private slots:
    void activationFails_data();
    void activationFails();
    void activationFailsInTheRealBox();
    void activationOpensTheLine();
    void openPortWithoutModemLinesIsActive();
    void closingTheWindowClosesThePort();
    void readBackRequestGoesOutOnTheLine();
    void uploadGoesOutOnTheLine();
    void scannerPollsOnTimer1();
    void receivedFramesReachTheReadouts();
    void lineGoneIsReported();
    void fieldExit_data();
    void fieldExit();
    void fieldExitByTabGivesTheFocusBack();
    void fieldExitIsNotReentered();
    void fieldsLeftInARowAreAllChecked();
    void keyPressGuard_data();
    void keyPressGuard();
    void wheelTypeFollowsTheUser();
    void speedScaleFollowsTheUser();
    void repickingTheWheelTypeKeepsTheTooth();
    void fieldCheckShowsItsPage_data();
    void fieldCheckShowsItsPage();
    void failingTickShowsOneMessageAtATime();
    void timers();
};

void TstWiring::activationFails_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("line"); // under the component's text: the port named in Portuguese
    QTest::newRow("no port found: \"!!\"")
        << "!!" << QString::fromUtf8(" Nenhuma porta serial foi encontrada: conecte o cabo do módulo e escolha a porta. ");
    QTest::newRow("typed name of no device") << "/dev/velto-no-such-port"
                                             << QString::fromUtf8(" A porta /dev/velto-no-such-port não existe. ");
    QTest::newRow("bare name of no device") << "ttyVELTO99" << QString::fromUtf8(" A porta /dev/ttyVELTO99 não existe. ");
}

void TstWiring::activationFails()
{
    QFETCH(QString, port);
    QFETCH(QString, line);
    Window w;
    w.s.setText("cbPorta", port);
    w.click("btnAtivar");
    QCOMPARE(w.prompt.messages, QStringList{"Unable to open com port (win error code: 2)\n" + line});
    QVERIFY(!w.form.ComPort1().Connected());
    QVERIFY(!w.form.controller().state().portOpen());
    QVERIFY(w.enabled("btnAtivar"));
    for (const QString &b : portButtons)
        QVERIFY2(!w.enabled(b), qPrintable(b));
    QVERIFY(!w.enabled("btnConfigurarTps"));
}

// The window's own box: the component's text, then the port named in Portuguese.
void TstWiring::activationFailsInTheRealBox()
{
    TForm1 form(nullptr, QStringList{});
    form.show();
    form.widgetScreen().setText("cbPorta", "/dev/velto-no-such-port");
    QString text;
    QTimer::singleShot(0, &form, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    form.widgetScreen().get<QPushButton>("btnAtivar")->click();
    QCOMPARE(text, QString::fromUtf8("Unable to open com port (win error code: 2)\n A porta /dev/velto-no-such-port não "
                                     "existe. "));
    QVERIFY(!form.ComPort1().Connected());
}

void TstWiring::activationOpensTheLine()
{
    PtyLine line;
    QVERIFY(line.isOpen());
    Window w({line.path()});
    QCOMPARE(w.s.text("cbPorta"), line.path());
    w.click("btnAtivar");
    QCOMPARE(w.prompt.messages, QStringList());
    QVERIFY(w.form.ComPort1().Connected());
    QVERIFY(w.form.controller().state().portOpen());
    QVERIFY(!w.enabled("btnAtivar"));
    QVERIFY(!w.enabled("btnConfigurarTps"));
    for (const QString &b :
         portButtons + QStringList{"btnSalvar", "Button1", "btnCarregar", "Button2", "btnAlterarMapas"})
        QVERIFY2(w.enabled(b), qPrintable(b));

    w.click("btnDesativar");
    QCOMPARE(w.prompt.messages, QStringList());
    QVERIFY(!w.form.ComPort1().Connected());
    QVERIFY(!w.form.controller().state().portOpen());
    QVERIFY(w.enabled("btnAtivar"));
    for (const QString &b : portButtons)
        QVERIFY2(!w.enabled(b), qPrintable(b));
    for (const char *b : {"btnSalvar", "Button1", "btnCarregar", "Button2", "btnAlterarMapas"})
        QVERIFY2(w.enabled(b), qPrintable(b));

    // Opening again: "Configurar &TPS" waits for a transfer.
    w.click("btnAtivar");
    QVERIFY(w.form.ComPort1().Connected());
    QVERIFY(!w.enabled("btnConfigurarTps"));
}

void TstWiring::openPortWithoutModemLinesIsActive()
{
    PtyLine line;
    Window w({line.path()}, std::make_unique<ModemLinesFail>());
    w.click("btnAtivar");
    QCOMPARE(w.prompt.messages, QStringList{"GetCommModemStatus function failed (win error code: 5)"});
    QVERIFY(w.form.ComPort1().Connected());
    QVERIFY(w.form.controller().state().portOpen());
    QVERIFY(!w.enabled("btnAtivar"));
    for (const QString &b : portButtons)
        QVERIFY2(w.enabled(b), qPrintable(b));
    w.click("btnDesativar");
    QVERIFY(!w.form.ComPort1().Connected());
    QVERIFY(!w.form.controller().state().portOpen());
    QVERIFY(w.enabled("btnAtivar"));
}

void TstWiring::closingTheWindowClosesThePort()
{
    PtyLine line;
    Window w({line.path()});
    w.form.show();
    w.click("btnAtivar");
    QVERIFY(w.form.ComPort1().Connected());
    QVERIFY(w.form.close());
    QVERIFY(!w.form.ComPort1().Connected());
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWiring::readBackRequestGoesOutOnTheLine()
{
    PtyLine line;
    Window w({line.path()});
    w.click("btnAtivar");
    w.click("Button6");
    QCOMPARE(line.waitFor(6), QByteArray::fromHex("003361616161"));
    QCOMPARE(w.prompt.messages, QStringList());
    w.form.timerReadBack().setEnabled(false);
}

void TstWiring::uploadGoesOutOnTheLine()
{
    PtyLine line;
    Window w({line.path()});
    w.click("btnAtivar");
    w.click("btnEnvia");
    QVERIFY(w.form.timer2().isEnabled());
    const QByteArray sent = line.waitFor(32 * 9 + 6, 10000);
    QCOMPARE(w.prompt.messages, QStringList());
    QCOMPARE(sent.size(), 32 * 9 + 6);
    for (int block = 1; block <= 32; ++block)
        QCOMPARE(int(quint8(sent.at((block - 1) * 9))), block);
    QCOMPARE(sent.right(6), QByteArray::fromHex("004861616161"));
    // The ignition map's first row leads block 1.
    QCOMPARE(sent.mid(1, 8), QByteArray::fromHex("0a0a060606060606"));
    QTRY_VERIFY(!w.form.timer2().isEnabled());
    QVERIFY(w.enabled("btnEnvia"));
    QVERIFY(!w.s.isVisible("pnAguarde"));
}

void TstWiring::scannerPollsOnTimer1()
{
    PtyLine line;
    Window w({line.path()});
    w.click("btnAtivar");
    w.click("Button3");
    QCOMPARE(w.s.text("Button3"), QStringLiteral("Desativar &Scanner"));
    QVERIFY(!w.s.isVisible("TabSheet2"));
    QCOMPARE(line.waitFor(6), QByteArray::fromHex("007f61616161"));
    w.form.timer1().setEnabled(false);
}

void TstWiring::receivedFramesReachTheReadouts()
{
    PtyLine line;
    Window w({line.path()});
    w.click("btnAtivar");
    // Live data B: advance 28, speed position 14, 6,5 ms, 1000 mbar, 3000 rpm, pump on.
    line.send(ecuFrame(30, {28, 14, 16, 4, 9, 144, 1, 1}));
    QTRY_COMPARE(w.s.text("eRpm"), QStringLiteral("3000"));
    QCOMPARE(w.s.text("eAvanco"), QStringLiteral("28°"));
    QCOMPARE(w.s.text("ePresAtm"), QStringLiteral("1000"));
    QCOMPARE(w.s.color("e16"), colors::red);
    QCOMPARE(w.s.color("e16i"), colors::red);
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWiring::lineGoneIsReported()
{
    PtyLine line;
    Window w({line.path()});
    w.click("btnAtivar");
    line.closeMaster();
    QTRY_COMPARE(w.prompt.messages.size(), 1);
    QVERIFY2(w.prompt.messages.first().startsWith("ReadFile function failed"), qPrintable(w.prompt.messages.first()));
    w.click("btnDesativar");
    QVERIFY(!w.form.ComPort1().Connected());
}

void TstWiring::fieldExit_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Qt::FocusReason>("reason");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("after");

    const QList<std::pair<const char *, Qt::FocusReason>> userReasons = {{"Tab", Qt::TabFocusReason},
                                                                         {"Backtab", Qt::BacktabFocusReason},
                                                                         {"mouse", Qt::MouseFocusReason},
                                                                         {"shortcut", Qt::ShortcutFocusReason}};
    const QList<std::pair<const char *, Qt::FocusReason>> otherReasons = {{"message box", Qt::ActiveWindowFocusReason},
                                                                          {"popup", Qt::PopupFocusReason},
                                                                          {"program", Qt::OtherFocusReason}};
    for (const auto &[how, reason] : userReasons)
        QTest::newRow(qPrintable(QStringLiteral("charge time 5, left by %1").arg(how)))
            << "eTempoCarga"
            << "5" << reason << QStringList{tooHighCharge} << "4";
    for (const auto &[how, reason] : otherReasons)
        QTest::newRow(qPrintable(QStringLiteral("charge time 5, focus lost to %1").arg(how)))
            << "eTempoCarga"
            << "5" << reason << QStringList{} << "5";
    QTest::newRow("charge time 4 passes") << "eTempoCarga"
                                          << "4" << Qt::TabFocusReason << QStringList{} << "4";
    QTest::newRow("RPM limit") << "eLimiteRpm"
                               << "12001" << Qt::TabFocusReason
                               << QStringList{" Atenção ! !  Valor máximo 12.000 PRM   "} << "12000";
    QTest::newRow("cranking advance") << "eAvancoPartida"
                                      << "16" << Qt::MouseFocusReason
                                      << QStringList{" Atenção ! !  Valor máximo 15 graus   "} << "15";
    QTest::newRow("cut-off off below on") << "eDeslCutOff"
                                          << "1400" << Qt::TabFocusReason
                                          << QStringList{" Atenção ! !  Esse valor deve ser maior que o valor para "
                                                         "ligar os injetores .   "}
                                          << "";
    QTest::newRow("cut-off on above off") << "eLigaCutOff"
                                          << "2300" << Qt::TabFocusReason
                                          << QStringList{" Atenção ! !  Esse valor deve ser menor que o valor para "
                                                         "Desligar os injetores .   "}
                                          << "";
    QTest::newRow("not a number: the guard shows the error")
        << "eTempoCarga"
        << "abc" << Qt::TabFocusReason
        << QStringList{QString::fromUtf8("'abc' is not a valid floating point value\nO campo Tempo de Carga (mS) contém "
                                         "\"abc\", que não é um número.")}
        << "abc";
}

void TstWiring::fieldExit()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(Qt::FocusReason, reason);
    QFETCH(QStringList, messages);
    QFETCH(QString, after);
    Window w;
    w.s.setText(field, text);
    focusOut(w.s.widget(field), reason);
    QCOMPARE(w.prompt.messages, messages);
    QCOMPARE(w.s.text(field), after);
}

void TstWiring::fieldExitByTabGivesTheFocusBack()
{
    Window w;
    w.form.show();
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    auto *charge = w.get<QLineEdit>("eTempoCarga");
    charge->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), charge);
    charge->selectAll();
    QTest::keyClicks(charge, "9");
    QTest::keyClick(charge, Qt::Key_Tab);
    QTRY_COMPARE(w.prompt.messages, QStringList{tooHighCharge});
    QCOMPARE(QApplication::focusWidget(), charge);
    QCOMPARE(charge->text(), QStringLiteral("4"));

    // Leaving the map combination relabels the load axis of both maps.
    auto *combination = w.get<QComboBox>("cbCombinacaoMapa");
    combination->setFocus(Qt::MouseFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), combination);
    QTest::keyClick(combination, Qt::Key_Down); // "MAP X RPM"
    QTest::keyClick(combination, Qt::Key_Tab);
    QTRY_COMPARE(w.s.text("Label72"), QStringLiteral("-820"));
    QCOMPARE(w.s.text("Label79"), QStringLiteral("0 mbar"));
    QCOMPARE(w.s.text("Label57"), QStringLiteral("-820"));
    QCOMPARE(w.s.text("Label71"), QStringLiteral("0 mbar"));
    QCOMPARE(w.prompt.messages.size(), 1);
}

void TstWiring::fieldExitIsNotReentered()
{
    Window w;
    w.s.setText("eTempoCarga", "5");
    w.s.setText("eLimiteRpm", "99999");
    QWidget *limit = w.s.widget("eLimiteRpm");
    // While the first message is open, the user's focus leaves another checked field.
    w.prompt.onMessage = [&](const QString &) { focusOut(limit, Qt::MouseFocusReason); };
    focusOut(w.s.widget("eTempoCarga"), Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QCOMPARE(w.prompt.messages, QStringList{tooHighCharge});
    QCOMPARE(w.s.text("eLimiteRpm"), QStringLiteral("99999"));
}

void TstWiring::fieldsLeftInARowAreAllChecked()
{
    Window w;
    w.s.setText("eTempoCarga", "5");
    w.s.setText("eLimiteRpm", "99999");
    for (const char *field : {"eTempoCarga", "eLimiteRpm"}) {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(w.s.widget(field), &out);
    }
    QCoreApplication::processEvents();
    QCOMPARE(w.prompt.messages, (QStringList{tooHighCharge, " Atenção ! !  Valor máximo 12.000 PRM   "}));
    QCOMPARE(w.s.text("eTempoCarga"), QStringLiteral("4"));
    QCOMPARE(w.s.text("eLimiteRpm"), QStringLiteral("12000"));
}

void TstWiring::keyPressGuard_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("message");
    for (const char *c : {"cbCombinacaoMapa", "cbTipoRodaFonica", "cbDentesPms", "cbEscalaRpm", "cbPontoZero"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1: digit").arg(c))) << c << int(Qt::Key_1) << "1" << true;
        QTest::newRow(qPrintable(QStringLiteral("%1: letter").arg(c))) << c << int(Qt::Key_A) << "a" << true;
        QTest::newRow(qPrintable(QStringLiteral("%1: arrow key").arg(c))) << c << int(Qt::Key_Down) << "" << false;
    }
    for (const char *c : {"cbSondaTipo", "cbSondaCorrecao", "cbSondaAtiva", "cbRapidaTpsxMap", "cbPorta"})
        QTest::newRow(qPrintable(QStringLiteral("%1: free text").arg(c))) << c << int(Qt::Key_1) << "1" << false;
}

void TstWiring::keyPressGuard()
{
    QFETCH(QString, combo);
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(bool, message);
    Window w;
    auto *box = w.get<QComboBox>(combo);
    const QString before = box->currentText();
    box->lineEdit()->end(false);
    QTest::keyClick(box, Qt::Key(key), Qt::NoModifier);
    QCOMPARE(w.prompt.messages, message ? QStringList{chooseOne} : QStringList{});
    // The key is not swallowed: a typed character reaches the text.
    if (!text.isEmpty())
        QCOMPARE(box->currentText(), before + text);
}

void TstWiring::wheelTypeFollowsTheUser()
{
    Window w;
    auto *wheel = w.get<QComboBox>("cbTipoRodaFonica");
    QTest::keyClick(wheel, Qt::Key_Down);
    QTest::keyClick(wheel, Qt::Key_Down);
    QCOMPARE(wheel->currentText(), QStringLiteral("2+2"));
    QCOMPARE(w.s.items("cbDentesPms"), QStringList{"0"});
    QVERIFY(!w.enabled("cbDentesPms"));
    QVERIFY(!w.enabled("cbPontoZero"));

    // The program's own selection runs no handler.
    w.s.setItemIndex("cbTipoRodaFonica", 1);
    QCOMPARE(w.s.items("cbDentesPms"), QStringList{"0"});

    // Typing a wheel type selects it and rebuilds the teeth (after the guard's messages).
    wheel->lineEdit()->selectAll();
    QTest::keyClicks(wheel, "60-2");
    QCOMPARE(w.s.itemIndex("cbTipoRodaFonica"), 0);
    QCOMPARE(w.s.items("cbDentesPms").size(), 16);
    QCOMPARE(w.s.items("cbDentesPms").first(), QStringLiteral("12"));
    QVERIFY(w.enabled("cbDentesPms"));
    QCOMPARE(w.prompt.messages, QStringList(4, chooseOne));
}

void TstWiring::speedScaleFollowsTheUser()
{
    Window w;
    auto *scale = w.get<QComboBox>("cbEscalaRpm");
    QTest::keyClick(scale, Qt::Key_Down);
    QCOMPARE(scale->currentText(), QStringLiteral("8000"));
    const QStringList rows8000 = {"500", "900", "2000", "3000", "4000", "5000", "6000", "7000", "8000"};
    for (int r = 0; r < 9; ++r) {
        QCOMPARE(w.s.text(QStringLiteral("StaticText%1").arg(r + 1)), rows8000[r]);
        QCOMPARE(w.s.text(QStringLiteral("StaticText%1").arg(r + 11)), rows8000[r]);
    }
    w.s.setItemIndex("cbEscalaRpm", 2); // the program's selection: no relabelling
    QCOMPARE(w.s.text("StaticText9"), QStringLiteral("8000"));
}

namespace
{
// Opens the list of combo and picks entry index as a user does (Return on the entry).
void pickFromList(QComboBox *combo, int index)
{
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
}
} // namespace

void TstWiring::repickingTheWheelTypeKeepsTheTooth()
{
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    auto *wheel = w.get<QComboBox>("cbTipoRodaFonica");
    w.s.setItemIndex("cbDentesPms", 10);
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("22"));

    // "60-2" is selected already: picking it again changes nothing.
    pickFromList(wheel, 0);
    QCOMPARE(w.s.itemIndex("cbTipoRodaFonica"), 0);
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("22"));
    QCOMPARE(w.s.itemIndex("cbDentesPms"), 10);

    // Another wheel type rebuilds the list at the tooth offset (0 since start-up).
    pickFromList(wheel, 1);
    QCOMPARE(w.s.items("cbDentesPms").size(), 9);
    QCOMPARE(w.s.text("cbDentesPms"), QStringLiteral("8"));
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWiring::fieldCheckShowsItsPage_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("after"); // the field's text after the check
    QTest::newRow("starting advance") << "eAvancoPartida" << "20" << " Atenção ! !  Valor máximo 15 graus   "
                                      << "15";
    QTest::newRow("cut-off off below on") << "eDeslCutOff" << "1000"
                                          << " Atenção ! !  Esse valor deve ser maior que o valor para ligar os "
                                             "injetores .   "
                                          << "";
}

void TstWiring::fieldCheckShowsItsPage()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, after);
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    w.form.activateWindow();
    QTabWidget *pages = w.form.pages();
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
    auto *edit = w.get<QLineEdit>(field);
    edit->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(edit->hasFocus());
    edit->setText(text);

    // The user leaves the field by clicking the tab of the map page.
    QTabBar *tabs = pages->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    QTRY_COMPARE(w.prompt.messages, QStringList{message});
    // The check gave the focus back: the field's page is in front and takes the keys.
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
    QTRY_VERIFY(edit->hasFocus());
    QVERIFY(edit->isVisible());
    QCOMPARE(edit->text(), after);
    edit->end(false);
    QTest::keyClicks(QApplication::focusWidget(), "1");
    QCOMPARE(edit->text(), after + "1");
}

void TstWiring::failingTickShowsOneMessageAtATime()
{
    Window w; // the port is closed: an upload tick cannot write
    int nested = 0;
    w.prompt.onMessage = [&](const QString &) {
        if (nested++ < 3)
            w.form.timer2().fire(); // the timer goes on ticking while the box is open
    };
    w.form.timer2().fire();
    QCOMPARE(w.prompt.messages.size(), 1);
    QVERIFY2(w.prompt.messages.first().startsWith("WriteFile function failed"), qPrintable(w.prompt.messages.first()));
    w.prompt.onMessage = nullptr;
    w.form.timer2().fire(); // once the box is closed, the next tick runs again
    QCOMPARE(w.prompt.messages.size(), 2);
}

void TstWiring::timers()
{
    Window w;
    QCOMPARE(w.form.timer2().qtimer().timerType(), Qt::PreciseTimer);
    for (QtTimer *t : {&w.form.timer1(), &w.form.timer2(), &w.form.timerTps(), &w.form.timerReadBack()})
        QVERIFY(!t->isEnabled());

    QtTimer &t = w.form.timerTps();
    t.setInterval(500);
    t.setEnabled(true);
    QVERIFY(t.qtimer().isActive());
    QCOMPARE(t.qtimer().interval(), 500);
    t.setInterval(0); // like the original timers: interval 0 never ticks
    QVERIFY(t.isEnabled());
    QVERIFY(!t.qtimer().isActive());
    t.setInterval(200);
    QVERIFY(t.qtimer().isActive());
    QCOMPARE(t.qtimer().interval(), 200);
    t.setEnabled(false);
    QVERIFY(!t.qtimer().isActive());
}

QTEST_MAIN(TstWiring)
#include "tst_wiring.moc"
