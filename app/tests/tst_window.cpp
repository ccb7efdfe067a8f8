// The main window after start-up: caption, size, the page shown, every control of the
// start-up table with its start-up state, the captions of the maps, the enabled states,
// the labels of the fields, typing limits and the keyboard order of the map cells.
#include "app/form1.h"
#include "app/typinglimit.h"
#include "app/widgetscreen.h"
#include "common/controls.h"
#include "common/names.h"
#include "fakes.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QCheckBox>
#include <QtTest>

namespace
{

// The controls of a map file, in its field order.
QStringList mapFileControls()
{
    QStringList list = {"cbCombinacaoMapa", "cbDentesPms", "eLimiteRpm", "eRepousoTps", "emSAr",
                        "ePercentualAr",    "eLigaCutOff", "eDeslCutOff"};
    for (int k = 0; k < 72; ++k)
        list << QStringLiteral("e%1").arg(k);
    for (int k = 0; k < 72; ++k)
        list << QStringLiteral("e%1i").arg(k);
    list << "cbSondaTipo"
         << "eSondaLenta"
         << "eSondaParcial"
         << "eSondaPlena"
         << "cbSondaCorrecao"
         << "eSondaTemp"
         << "cbSondaAtiva"
         << "eAtm820"
         << "eAtm880"
         << "eAtm940"
         << "eAtm1000"
         << "cbRapidaTpsxMap"
         << "eBasico"
         << "eGanho"
         << "eDecremento";
    for (const char *row : {"eCorrecaoTi", "eCorrecaoIg", "eCorrecaoMl"})
        for (const char *t : {"0", "15", "30", "45", "60", "75", "90", "105"})
            list << QString::fromLatin1(row) + QString::fromLatin1(t);
    list << "eLigaEletro"
         << "eDesligaEletro"
         << "cbTipoRodaFonica"
         << "cbEscalaRpm"
         << "eTempoCarga"
         << "cbPontoZero"
         << "eAvancoPartida"
         << "emSCorrecaoEletro"
         << "ePercEletro";
    return list;
}

const char *const ignitionDefaults = "10;10;6;6;6;6;6;6;10;10;12;12;12;12;13;14;11;15;18;21;24;28;26;25;"
                                     "32;32;32;32;30;28;27;25;33;33;32;32;30;29;28;26;33;33;32;32;30;29;28;26;"
                                     "34;34;33;33;31;30;29;27;34;34;33;33;31;30;29;27;34;34;33;33;31;30;29;27";
const char *const injectionDefaults =
    "3,5;5,2;5,8;6,4;7,4;7,8;8;8,1;3,1;4,3;5,3;6,2;7,3;7,6;7,8;8,1;2,8;4;5;6,2;7,2;7,4;7,8;8,1;"
    "2,5;3,8;4,4;6,2;7,2;7,4;8;8,2;2,4;3,3;4,2;6,6;7,4;8,2;8,2;8,3;2,4;3,1;4,2;6,8;7,6;8,7;8,6;8,6;"
    "2,3;2,9;4;6,7;7,7;8,2;8,3;8,5;2,3;2,8;3,9;6,6;7,8;7,8;8,3;8,3;2,2;2,8;3,8;6,5;7,8;7,8;8,1;8,1";

QColor qcolor(Rgb c) { return QColor(c.r, c.g, c.b); }

struct Window {
    FakePrompt prompt;
    TForm1 form{&prompt, QStringList{}};
    WidgetScreen &s = form.widgetScreen();
    template <typename T> T *get(const char *name) { return s.get<T>(QString::fromLatin1(name)); }
};

} // namespace

class TstWindow : public QObject
{
    Q_OBJECT
private slots:
    void windowFrame();
    void startupTable_data();
    void startupTable();
    void mapFileTextsOfAFreshScreen();
    void rowAndColumnCaptions();
    void enabledAfterStartup_data();
    void enabledAfterStartup();
    void portListFromStartup();
    void labelledFieldsHaveTheirLabel_data();
    void labelledFieldsHaveTheirLabel();
    void hiddenControlsAreNeverSeen();
    void typingLimit_data();
    void typingLimit();
    void changeFieldsAreSkippedByTab();
    void focusOrderOfTheCells();
};

void TstWindow::windowFrame()
{
    Window w;
    QCOMPARE(w.form.windowTitle(),
             QStringLiteral("              Sorvani            Injeção Velto    KX 4                  "
                            "      Roda   Fônica       Versão  VKX 2.02"));
    // The pages' 710 and the link's status line under them.
    QCOMPARE(w.form.size(), QSize(972, 732));
    QCOMPARE(w.form.minimumSize(), QSize(972, 732));
    QCOMPARE(w.form.maximumSize(), QSize(972, 732));
    QVERIFY(!(w.form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(w.form.palette().color(QPalette::Window), QColor(Qt::white));
    QTabWidget *tabs = w.form.pages();
    QCOMPARE(tabs->objectName(), QStringLiteral("Mapas"));
    QCOMPARE(tabs->geometry(), QRect(0, 0, 972, 710));
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Mapas e Scanner"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Configurações e Correções"));
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
    QCOMPARE(w.prompt.messages, QStringList());
}

void TstWindow::startupTable_data()
{
    QTest::addColumn<QString>("name");
    for (const ControlSpec &c : controlTable())
        QTest::newRow(qPrintable(c.name)) << c.name;
}

void TstWindow::startupTable()
{
    QFETCH(QString, name);
    static Window *w = new Window; // one window for all rows; start-up state is read only
    const ControlSpec &c = *findControl(name);
    QWidget *widget = w->s.widget(name);

    QCOMPARE(w->s.text(name), c.text);
    QCOMPARE(widget->toolTip(), c.hint);
    if (names::ignitionRowCaptions().contains(name))
        QCOMPARE(widget->toolTip(), QStringLiteral("Posição de Rotação no Mapa."));
    QCOMPARE(widget->isEnabledTo(widget->parentWidget()), c.enabled);
    QCOMPARE(w->s.isEnabled(name), c.enabled);
    QCOMPARE(w->s.isVisible(name), c.visible);
    if (c.color)
        QCOMPARE(w->s.color(name), *c.color);
    if (c.fontColor)
        QCOMPARE(w->s.fontColor(name), *c.fontColor);

    switch (c.kind) {
    case ControlKind::Edit: {
        auto *e = qobject_cast<QLineEdit *>(widget);
        QVERIFY(e);
        QCOMPARE(e->text(), c.text);
        QCOMPARE(TypingLimit::of(e), c.maxLength);
        QCOMPARE(e->maxLength(), 32767); // the limit is for typing only
        if (c.color)
            QCOMPARE(e->palette().color(QPalette::Base), qcolor(*c.color));
        if (c.fontColor)
            QCOMPARE(e->palette().color(QPalette::Text), qcolor(*c.fontColor));
        break;
    }
    case ControlKind::ComboFixed:
    case ControlKind::ComboFree: {
        auto *combo = qobject_cast<QComboBox *>(widget);
        QVERIFY(combo);
        // The replay speed is a plain list; every other combo box also takes typed text.
        QCOMPARE(combo->isEditable(), name != QLatin1String("cbVelocidade"));
        QCOMPARE(combo->currentText(), c.text);
        QCOMPARE(combo->currentIndex(), c.itemIndex);
        QCOMPARE(w->s.items(name), c.items);
        break;
    }
    case ControlKind::Button:
        QVERIFY(qobject_cast<QPushButton *>(widget));
        QCOMPARE(qobject_cast<QPushButton *>(widget)->text(), c.text);
        break;
    case ControlKind::Label:
        QVERIFY(qobject_cast<QLabel *>(widget));
        QCOMPARE(qobject_cast<QLabel *>(widget)->text(), c.text);
        break;
    case ControlKind::Panel:
        if (auto *g = qobject_cast<QGroupBox *>(widget))
            QCOMPARE(g->title(), c.text);
        else
            QCOMPARE(qobject_cast<QLabel *>(widget)->text(), c.text);
        break;
    case ControlKind::Progress:
        QCOMPARE(w->s.barMin(name), c.barMin);
        QCOMPARE(w->s.barMax(name), c.barMax);
        QCOMPARE(w->s.barPosition(name), c.barPosition);
        break;
    case ControlKind::List:
        QVERIFY(qobject_cast<QListWidget *>(widget));
        QCOMPARE(w->s.items(name), c.items);
        break;
    case ControlKind::Page:
        QCOMPARE(w->form.pages()->indexOf(widget) >= 0, true);
        break;
    case ControlKind::CheckBox:
        QVERIFY(qobject_cast<QCheckBox *>(widget));
        QCOMPARE(qobject_cast<QCheckBox *>(widget)->text(), c.text);
        break;
    }
}

void TstWindow::mapFileTextsOfAFreshScreen()
{
    Window w;
    QStringList texts;
    for (const QString &name : mapFileControls())
        texts << w.s.text(name);
    QCOMPARE(texts.size(), 200);
    const QString line = texts.join(';') + QStringLiteral(";130;230");
    QVERIFY(line.startsWith("TPS X RPM;20;6000;128;1;70;1500;2200;10;10;6;6;6;6;6;6;10;10;12;12;12;12;13;14;"));
    const QString expected = QStringLiteral("TPS X RPM;20;6000;128;1;70;1500;2200;") + ignitionDefaults + ';' +
                             injectionDefaults +
                             ";Normal;550;700;820;TPS;30;Ativada;0;0;0;0;TPS;3;5;3;55;40;30;20;12;5;0;0;5;4;3;2;1;0;"
                             "0;-2;70;50;40;30;20;15;0;0;87;80;60-2;6600;3,6;0;6;0,7;20;130;230";
    QCOMPARE(line, expected);
    QCOMPARE(line.size(), 675);
}

void TstWindow::rowAndColumnCaptions()
{
    Window w;
    const QStringList rows = {"500", "900", "1800", "2600", "3400", "4200", "5000", "5800", "6600"};
    for (int r = 0; r < 9; ++r) {
        QCOMPARE(w.s.get<QLabel>(QStringLiteral("StaticText%1").arg(r + 1))->text(), rows[r]);
        QCOMPARE(w.s.get<QLabel>(QStringLiteral("StaticText%1").arg(r + 11))->text(), rows[r]);
    }
    const QStringList ignition = {"Label72", "Label73", "Label74", "Label75",
                                  "Label76", "Label77", "Label78", "Label79"};
    const QStringList injection = {"Label57", "Label63", "Label64", "Label65",
                                   "Label66", "Label69", "Label70", "Label71"};
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(w.s.get<QLabel>(ignition[c])->text(), QString::number(c + 1));
        QCOMPARE(w.s.get<QLabel>(injection[c])->text(), QString::number(c + 1));
    }
    QCOMPARE(w.get<QLabel>("StaticText10")->text(), QStringLiteral("RPM"));
    QCOMPARE(w.get<QLabel>("pnColunaOkIgn")->text(),
             QStringLiteral(" Mapa de ignição                Valores em  Graus  "));
    QCOMPARE(w.get<QLabel>("pnColunaOkInj")->text(), QStringLiteral("  Mapa de injeção"));
    QCOMPARE(w.get<QLabel>("Label46")->text(), QStringLiteral("Valores em Ti   \" mS \""));
    QCOMPARE(w.get<QLabel>("Label46")->palette().color(QPalette::WindowText), QColor(Qt::red));
}

void TstWindow::enabledAfterStartup_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("&Ativar") << "btnAtivar" << true;
    QTest::newRow("save, map page") << "btnSalvar" << true;
    QTest::newRow("save, configuration page") << "Button1" << true;
    QTest::newRow("load, map page") << "btnCarregar" << true;
    QTest::newRow("load, configuration page") << "Button2" << true;
    QTest::newRow("Alterar &Mapas") << "btnAlterarMapas" << true;
    QTest::newRow("&Desativar") << "btnDesativar" << false;
    QTest::newRow("read-back, configuration page") << "btnLerDados" << false;
    QTest::newRow("read-back, map page") << "Button6" << false;
    QTest::newRow("upload, configuration page") << "btnEnvia" << false;
    QTest::newRow("upload, map page") << "Button8" << false;
    QTest::newRow("Ativar &Scanner") << "Button3" << false;
    QTest::newRow("Configurar &TPS") << "btnConfigurarTps" << false;
    QTest::newRow("percent view") << "btnPercentual" << true;
    QTest::newRow("ms view") << "btnmS" << false;
}

void TstWindow::enabledAfterStartup()
{
    QFETCH(QString, button);
    QFETCH(bool, enabled);
    Window w;
    w.form.show();
    auto *b = w.s.get<QPushButton>(button);
    QCOMPARE(b->isEnabledTo(b->parentWidget()), enabled);
}

void TstWindow::portListFromStartup()
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{"/dev/ttyS0", "/dev/ttyUSB3"});
    auto *port = form.widgetScreen().get<QComboBox>("cbPorta");
    QCOMPARE(port->count(), 2);
    QCOMPARE(port->currentIndex(), 0);
    QCOMPARE(port->currentText(), QStringLiteral("/dev/ttyS0"));

    TForm1 none(&prompt, QStringList{});
    auto *empty = none.widgetScreen().get<QComboBox>("cbPorta");
    QCOMPARE(empty->count(), 0);
    QCOMPARE(empty->currentText(), QStringLiteral("!!"));
}

void TstWindow::labelledFieldsHaveTheirLabel_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    const QList<std::pair<const char *, const char *>> rows = {
        {"cbCombinacaoMapa", "Combinação dos Mapas"},
        {"cbTipoRodaFonica", "Tipo de Roda Fônica"},
        {"cbDentesPms", "Dente PMS"},
        {"cbEscalaRpm", "Escala de RPM Mapa"},
        {"eLimiteRpm", "Limite de RPM"},
        {"eTempoCarga", "Tempo de Carga (mS)"},
        {"cbPontoZero", "Ponto  Zero"},
        {"eAvancoPartida", "Avanço na Partida"},
        {"eDeslCutOff", "Desl. os Injet."},
        {"eLigaCutOff", "Liga os Injet."},
        {"cbSondaTipo", "Tipo de sensor"},
        {"cbSondaCorrecao", "Definido por:"},
        {"eSondaTemp", "°C"},
        {"cbSondaAtiva", "Atividade"},
        {"eSondaLenta", "Valor Alvo"},
        {"eSondaParcial", "Lenta  Parcial  Plena"},
        {"eSondaPlena", "mV"},
        {"eCorrecaoTi0", "Correção Ti"},
        {"eCorrecaoIg0", "Correção Avanço"},
        {"eCorrecaoMl0", " Atuador de M. lenta"},
        {"eAtm1000", "% do Ti"},
        {"eLigaEletro", "°C Liga"},
        {"eDesligaEletro", "°C Desliga"},
        {"emSCorrecaoEletro", "mS Ti"},
        {"ePercEletro", "%  Atuador M. Lenta"},
        {"emSAr", "Incrementa Ti"},
        {"ePercentualAr", "Abre Atuador"},
        {"cbRapidaTpsxMap", "Definido por:"},
        {"eBasico", "Curta"},
        {"eGanho", "Longa"},
        {"eDecremento", "Decremento"},
        {"eRpm", "RPM"},
        {"eAvanco", "Avanço"},
        {"eTi", "Ti (mS)                         % de Abertura"},
        {"eValorTps", "TPS  (Vcc)"},
        {"BarraTps", "Abertura"},
        {"ePresAtm", "  mbar  Atm"},
        {"eAtuadorML", "M. Lenta"},
        {"eTemperatura", "Temperatura  °C"},
        {"eCorTemperatura", "%  Ti"},
        {"eCorAvanco", "Avanço"},
        {"eValorSonda", "Sonda  mV"},
        {"eCorSondaCurto", "% Curto"},
        {"eCorSondaLongo", "% Longo"},
        {"eColunaTps", "Coluna do TPS"},
        {"eValorMap", "ColunaMAP"},
        {"eLinhaMapa", "Linha Da RPM"},
        {"eAltera", "Alterar todo o Mapa de Ignição "},
        {"eAlterar", "Alterar todo o Mapa de Injeção "},
    };
    for (const auto &[field, label] : rows)
        QTest::newRow(field) << QString::fromLatin1(field) << QString::fromUtf8(label);
}

void TstWindow::labelledFieldsHaveTheirLabel()
{
    QFETCH(QString, field);
    QFETCH(QString, label);
    Window w;
    QWidget *f = w.s.widget(field);
    QStringList captions;
    for (QLabel *l : w.form.findChildren<QLabel *>())
        if (l->buddy() == f)
            captions << l->text();
    QVERIFY2(captions.contains(label), qPrintable(captions.join(" | ")));
}

void TstWindow::hiddenControlsAreNeverSeen()
{
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    for (const char *name : {"eRepousoTps", "eLeitura", "ListBox1", "Label1", "Label3", "Label48", "Label51", "Label52",
                             "Label89", "Label90", "Label91", "Label92", "Label54"}) {
        QWidget *c = w.s.widget(QString::fromLatin1(name));
        QVERIFY2(!c->isVisible(), name);
        // Behind the page control, where the user cannot reach them.
        QCOMPARE(c->parentWidget(), &w.form);
        QVERIFY(w.form.pages()->geometry().contains(c->geometry()));
    }
    QCOMPARE(w.s.text("eRepousoTps"), QStringLiteral("128"));
    QCOMPARE(w.s.text("eLeitura"), QStringLiteral("1"));
}

void TstWindow::typingLimit_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("RPM limit, 5") << "eLimiteRpm"
                                  << "1234567"
                                  << "12345";
    QTest::newRow("charge time, 3") << "eTempoCarga"
                                    << "3,61"
                                    << "3,6";
    QTest::newRow("ignition cell, 2") << "e0"
                                      << "123"
                                      << "12";
    QTest::newRow("injection cell, 4") << "e0i"
                                       << "12,345"
                                       << "12,3";
    QTest::newRow("correction at 105 °C, 3") << "eCorrecaoTi105"
                                             << "1234"
                                             << "123";
    QTest::newRow("correction at 0 °C, 2") << "eCorrecaoTi0"
                                           << "123"
                                           << "12";
    QTest::newRow("idle actuator at 0 °C, 3") << "eCorrecaoMl0"
                                              << "1234"
                                              << "123";
    QTest::newRow("change field, 3") << "eC0ig"
                                     << "-123"
                                     << "-12";
    QTest::newRow("probe temperature, no limit") << "eSondaTemp"
                                                 << "1234567890"
                                                 << "1234567890";
}

void TstWindow::typingLimit()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Window w;
    auto *e = w.s.get<QLineEdit>(field);
    e->clear();
    QTest::keyClicks(e, typed);
    QCOMPARE(e->text(), kept);
    // Deleting and typing again works within the limit.
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, typed.right(1));
    QCOMPARE(e->text(), kept.chopped(1) + typed.right(1));

    // The program's texts are never cut, and typing stays refused past the limit.
    const QString longText = QStringLiteral("123456789012");
    w.s.setText(field, longText);
    QCOMPARE(e->text(), longText);
    QCOMPARE(w.s.text(field), longText);
    if (kept != typed) {
        e->end(false);
        QTest::keyClicks(e, QStringLiteral("9"));
        QCOMPARE(e->text(), longText);
    }
}

void TstWindow::changeFieldsAreSkippedByTab()
{
    Window w;
    int count = 0;
    for (const char *prefix : {"eC%1ig", "eC%1inj", "eL%1ig", "eL%1inj"})
        for (int i = 0; i < 9; ++i) {
            const QString name = QString::fromLatin1(prefix).arg(i);
            if (!w.s.contains(name))
                continue;
            ++count;
            QCOMPARE(w.s.widget(name)->focusPolicy(), Qt::ClickFocus);
            QVERIFY(!w.s.isVisible(name));
        }
    QCOMPARE(count, 34);
}

void TstWindow::focusOrderOfTheCells()
{
    Window w;
    w.form.pages()->setCurrentIndex(0);
    w.form.show();
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    QStringList order;
    for (int k = 0; k < 72; ++k)
        order << QStringLiteral("e%1i").arg(k);
    for (int k = 0; k < 72; ++k)
        order << QStringLiteral("e%1").arg(k);
    w.s.widget(order.first())->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), w.s.widget(order.first()));
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
    }
}

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
