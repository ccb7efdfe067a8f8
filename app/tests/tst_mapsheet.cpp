// The maps edited like a spreadsheet in the real window: selection by mouse and keys,
// copy and paste with the clipboard, the tools from keys and the context menu, the
// colours by value and the 3D view. Pictures go to the build folder (pages/).
#include "app/form1.h"
#include "app/mapcolours.h"
#include "app/mappagetools.h"
#include "app/mapview3d.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "fakes.h"
#include "link/scanner.h"
#include "realdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QtTest>
#include <cmath>

namespace
{

QString pagesFolder()
{
    const QString build = qEnvironmentVariable("VELTO_BUILD", QDir::currentPath());
    QDir(build).mkpath(QStringLiteral("pages"));
    return QDir(build).filePath(QStringLiteral("pages"));
}

const QString busy = QStringLiteral(
    " Atenção ! !  O mapa não pode ser alterado durante o envio, a leitura, o scanner ou a calibração do TPS.  ");

struct Window {
    // realDialogs: the window's own prompt (real boxes), not the test's.
    explicit Window(bool realDialogs = false) : form(realDialogs ? nullptr : &prompt, QStringList{})
    {
        form.pages()->setCurrentWidget(s.widget("TabSheet1"));
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    FakePrompt prompt;
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    Controller &c() { return form.controller(); }
    MapPageTools &tools() { return form.mapPageTools(); }
    MapSheet &sheet(MapId map) { return tools().sheet(map); }
    QLineEdit *cell(MapId map, int row, int column) { return s.get<QLineEdit>(cells::cellName(map, row, column)); }
    QStringList texts(MapId map)
    {
        QStringList t;
        for (int r = 0; r < mapRows; ++r)
            for (int c = 0; c < mapColumns; ++c)
                t << s.text(cells::cellName(map, r, c));
        return t;
    }
    QImage mapsPicture()
    {
        QWidget *page = s.widget("TabSheet1");
        return page->grab(QRect(0, 100, page->width(), 300)).toImage();
    }
};

QPoint centre(QWidget *w) { return w->rect().center(); }

// Answers the next modal box the window opens with a text field, as a user does: types
// into the field (empty: leaves it) and presses the button with that caption. Looks for
// the box from the event loop the box runs, until it shows.
struct TextBoxAnswer {
    QString typed;
    QString button;
    // Seen in the box:
    QString title, question, initial, buddyOf;
    QStringList buttons;
    bool found = false, modal = false;
    int looks = 0;

    void arm()
    {
        QTimer::singleShot(0, [this] { look(); });
    }
    void look()
    {
        auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        auto *field = box ? box->findChild<QLineEdit *>() : nullptr;
        if (!field) {
            if (++looks < 200)
                QTimer::singleShot(5, [this] { look(); });
            return;
        }
        found = true;
        box->grab().save(QDir(pagesFolder()).filePath("maps-tool-question.png"));
        modal = box->isModal();
        title = box->windowTitle();
        initial = field->text();
        for (QLabel *l : box->findChildren<QLabel *>()) {
            if (l->buddy() == field) {
                question = l->text();
                buddyOf = field->objectName();
            }
        }
        for (QAbstractButton *b : box->findChildren<QAbstractButton *>())
            buttons << b->text();
        if (!typed.isEmpty()) {
            field->selectAll();
            QTest::keyClicks(field, typed);
        }
        for (QAbstractButton *b : box->findChildren<QAbstractButton *>())
            if (b->text() == button)
                QTest::mouseClick(b, Qt::LeftButton);
    }
};

// WCAG contrast of two colours.
double luminance(const QColor &c)
{
    auto lin = [](double v) {
        v /= 255;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.red()) + 0.7152 * lin(c.green()) + 0.0722 * lin(c.blue());
}
double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Live data of a running engine (as the layout test shows it): the scanner marks cells.
void showLiveData(Controller &c)
{
    c.scanner().liveDataA({92, 120, 35, 45, 0x00, 0x02, 20, 17});
    c.scanner().liveDataB({28, 14, 16, 4, 9, 144, 1, 1});
    c.scanner().liveDataC({5, 251, 10, 0, 2, 1, 0, 0});
}

QList<int> redCells(WidgetScreen &s)
{
    QList<int> k;
    for (int i = 0; i < 72; ++i)
        if (s.color(cells::cellName(MapId::Injection, i / 8, i % 8)) == colors::red)
            k << i;
    return k;
}

} // namespace

class TstMapSheet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QSettings(QSettings::NativeFormat, QSettings::UserScope, "Velto", "Velto").clear(); }

    void selectionByMouseChangesNothing()
    {
        Window w;
        const int steps = w.c().history().count();
        QVERIFY(!w.sheet(MapId::Ignition).selection());
        QTest::mouseClick(w.cell(MapId::Ignition, 1, 1), Qt::LeftButton, {}, centre(w.cell(MapId::Ignition, 1, 1)));
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{1, 1, 1, 1}));
        QTest::mouseClick(w.cell(MapId::Ignition, 3, 4), Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{1, 1, 3, 4}));
        QCOMPARE(w.form.focusWidget(), w.cell(MapId::Ignition, 1, 1)); // Shift+click keeps the focus
        // A drag from cell 8,7 up and left to 6,5 of the injection map.
        QLineEdit *from = w.cell(MapId::Injection, 8, 7), *to = w.cell(MapId::Injection, 6, 5);
        QTest::mousePress(from, Qt::LeftButton, {}, centre(from));
        QMouseEvent move(QEvent::MouseMove, from->mapFromGlobal(to->mapToGlobal(centre(to))),
                         to->mapToGlobal(centre(to)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(from, &move);
        QTest::mouseRelease(from, Qt::LeftButton, {}, centre(from));
        QCOMPARE(w.sheet(MapId::Injection).selection(), std::optional(CellRect{6, 5, 8, 7}));
        // Each map keeps its own selection; selecting is no step.
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{1, 1, 3, 4}));
        QCOMPARE(w.c().history().count(), steps);
        QVERIFY(!w.c().unsaved());
        QVERIFY(w.s.widget("lbNaoSalvo")->isHidden());
    }

    void selectionByKeysAndTextKeysOfTheCell()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Ignition, 2, 2); // "18"
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        e->setCursorPosition(1);
        QTest::keyClick(e, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{2, 2, 4, 2}));
        // Shift+Left moves within the text first, then takes the column at its start.
        QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(e->selectedText(), QString("1"));
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{2, 2, 4, 2}));
        QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{2, 1, 4, 2}));
        // Shift+Right: to the text's end first, then a column further.
        e->setCursorPosition(0);
        QTest::keyClick(e, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{2, 1, 4, 2}));
        QTest::keyClick(e, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{2, 2, 4, 2}));
        QTest::keyClick(e, Qt::Key_Up, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_Up, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_Up, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{0, 2, 2, 2}));
        // Ctrl+A takes the cell's text, typing edits the cell with the focus.
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(e->selectedText(), QString("18"));
        QTest::keyClicks(e, "21");
        QCOMPARE(e->text(), QString("21"));
        QCOMPARE(w.s.text("e10"), QString("12"));
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect{0, 2, 2, 2}));
    }

    void copyAndPasteThroughTheClipboard()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Injection, 0, 0);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        QTest::mouseClick(w.cell(MapId::Injection, 1, 2), Qt::LeftButton, Qt::ShiftModifier);
        QTest::keyClick(e, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("3,5\t5,2\t5,8\n3,1\t4,3\t5,3"));

        // A block from a spreadsheet in Portuguese, pasted on the selection's corner.
        const int steps = w.c().history().count();
        const QStringList before = w.texts(MapId::Injection);
        QGuiApplication::clipboard()->setText("9,5\t9,6\t\r\n9,7\t9,8\t\r\n");
        QLineEdit *corner = w.cell(MapId::Injection, 7, 6);
        QTest::mouseClick(corner, Qt::LeftButton, {}, centre(corner));
        QTest::keyClick(corner, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.c().mapCopy(MapId::Injection, CellRect{7, 5, 8, 7}), QString("7,8\t9,5\t9,6\n7,8\t9,7\t9,8"));
        QCOMPARE(w.c().history().count(), steps + 1);
        QVERIFY(!w.s.widget("lbNaoSalvo")->isHidden());
        QVERIFY(w.prompt.messages.isEmpty());
        QTest::keyClick(corner, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.texts(MapId::Injection), before);

        // A refused block: one message naming the cell, nothing changed.
        QGuiApplication::clipboard()->setText("1\t2\r\n3\t30\r\n");
        QTest::keyClick(corner, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.prompt.messages, QStringList(" Atenção ! !  Colar: 30 para a linha 9, coluna 8 do mapa de injeção "
                                                "está fora da faixa de 0 a 25 mS.  "));
        QCOMPARE(w.texts(MapId::Injection), before);

        // One value on one cell is the field's own paste, into its text.
        QGuiApplication::clipboard()->setText("7");
        corner->setCursorPosition(corner->text().size());
        QTest::keyClick(corner, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(corner->text(), QString("8,37"));
        // A spreadsheet's single cell (with its line end) replaces the value instead.
        QGuiApplication::clipboard()->setText("12,34\r\n");
        QTest::keyClick(corner, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(corner->text(), QString("12,3"));
    }

    void contextMenuAndToolKeys()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Ignition, 0, 0);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        std::unique_ptr<QMenu> menu(w.sheet(MapId::Ignition).contextMenu(e));
        QStringList captions;
        QAction *tools = nullptr;
        for (QAction *a : menu->actions()) {
            captions << a->text();
            if (a->menu<QMenu *>())
                tools = a;
        }
        QVERIFY(captions.contains("Selecionar todo o mapa"));
        QVERIFY(captions.contains("Copiar células"));
        QVERIFY(captions.contains("Colar células"));
        QVERIFY(tools);
        QCOMPARE(tools->text(), QString(" Ferramentas "));
        QStringList toolCaptions;
        for (QAction *a : tools->menu<QMenu *>()->actions()) {
            toolCaptions << a->text() + " = " + a->shortcut().toString();
            QVERIFY(a->isShortcutVisibleInContextMenu());
        }
        QCOMPARE(toolCaptions, QStringList({"Definir valor… = Ctrl+Shift+D", "Somar… = Ctrl+Shift+S",
                                            "Multiplicar por %… = Ctrl+Shift+M", "Interpolar = Ctrl+Shift+I",
                                            "Suavizar = Ctrl+Shift+U"}));

        // "Selecionar todo o mapa", then "Somar…" from the menu, answered through the prompt.
        for (QAction *a : menu->actions())
            if (a->text() == "Selecionar todo o mapa")
                a->trigger();
        QCOMPARE(w.sheet(MapId::Ignition).selection(), std::optional(CellRect::whole()));
        w.prompt.textAnswers = {QString("2")};
        tools->menu<QMenu *>()->actions().at(1)->trigger();
        QCOMPARE(w.prompt.textQuestions,
                 QStringList("Somar às células selecionadas (graus; negativo subtrai).\nCada célula fica na faixa de 0 a "
                             "50 graus.\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a graus "
                             "inteiros."));
        QCOMPARE(w.c().mapCopy(MapId::Ignition, CellRect{0, 0, 0, 7}), QString("12\t12\t8\t8\t8\t8\t8\t8"));

        // The keys: Interpolar on row 2, one step.
        const int steps = w.c().history().count();
        QLineEdit *start = w.cell(MapId::Ignition, 2, 0);
        QTest::mouseClick(start, Qt::LeftButton, {}, centre(start));
        QTest::mouseClick(w.cell(MapId::Ignition, 2, 7), Qt::LeftButton, Qt::ShiftModifier);
        QTest::keyClick(start, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.c().mapCopy(MapId::Ignition, CellRect{2, 0, 2, 7}), QString("13\t15\t17\t19\t21\t23\t25\t27"));
        QCOMPARE(w.c().history().count(), steps + 1);
        QCOMPARE(w.prompt.messages, QStringList());
    }

    // The menu over a selected block, as a tuner sees it (pages/maps-tools.png).
    void toolsPicture()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Ignition, 2, 1);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        QTest::mouseClick(w.cell(MapId::Ignition, 4, 4), Qt::LeftButton, Qt::ShiftModifier);
        std::unique_ptr<QMenu> menu(w.sheet(MapId::Ignition).contextMenu(e));
        QMenu *tools = nullptr;
        for (QAction *a : menu->actions())
            if (a->menu<QMenu *>())
                tools = a->menu<QMenu *>();
        QVERIFY(tools);
        menu->popup(e->mapToGlobal(centre(e)));
        tools->popup(e->mapToGlobal(centre(e)));
        QVERIFY(QTest::qWaitForWindowExposed(menu.get()));
        QVERIFY(QTest::qWaitForWindowExposed(tools));
        QWidget *page = w.s.widget("TabSheet1");
        QImage picture = page->grab(QRect(0, 100, page->width(), 520)).toImage();
        QPainter p(&picture);
        const QPoint at = e->geometry().center() - QPoint(0, 100);
        const QImage menuPicture = menu->grab().toImage();
        p.drawImage(at, menuPicture);
        QAction *toolsAction = tools->menuAction();
        p.drawImage(at + QPoint(menuPicture.width() - 4, menu->actionGeometry(toolsAction).top()),
                    tools->grab().toImage());
        p.end();
        QVERIFY(picture.save(QDir(pagesFolder()).filePath("maps-tools.png")));
        tools->close();
        menu->close();
    }

    void refusedWhileTheScannerRuns()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Injection, 4, 4);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        w.c().state().scannerActive = true;
        const QStringList before = w.texts(MapId::Injection);
        w.prompt.textAnswers = {QString("5")};
        QTest::keyClick(e, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
        QGuiApplication::clipboard()->setText("1\t2");
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.prompt.messages, QStringList({busy, busy}));
        QCOMPARE(w.prompt.textQuestions, QStringList());
        QCOMPARE(w.texts(MapId::Injection), before);
        w.c().state().scannerActive = false;
    }

    void coloursOffLookExactlyAsBefore()
    {
        Window w;
        auto *box = w.s.get<QCheckBox>("cbCoresPorValor");
        QVERIFY(!box->isChecked());
        const QImage plain = w.mapsPicture();
        plain.save(QDir(pagesFolder()).filePath("maps-plain.png"));
        box->click();
        QVERIFY(w.tools().colours().isOn());
        const QImage coloured = w.mapsPicture();
        coloured.save(QDir(pagesFolder()).filePath("maps-colours.png"));
        QVERIFY(coloured != plain);
        box->click();
        QVERIFY(!w.tools().colours().isOn());
        // Off again: the image of the maps (and the check box, unchecked) is the one before.
        QCOMPARE(w.mapsPicture(), plain);
        // Without a selection the frames over the cells draw nothing.
        w.sheet(MapId::Ignition).frames()->hide();
        w.sheet(MapId::Injection).frames()->hide();
        QCOMPARE(w.mapsPicture(), plain);
        w.sheet(MapId::Ignition).frames()->show();
        w.sheet(MapId::Injection).frames()->show();
        // A change while off is painted as always: black and yellow.
        w.s.setText("e5", "49");
        QCoreApplication::processEvents();
        QCOMPARE(w.mapsPicture().size(), plain.size());
        QCOMPARE(w.cell(MapId::Ignition, 0, 5)->palette().color(QPalette::Base), QColor(Qt::black));
        QCOMPARE(w.cell(MapId::Ignition, 0, 5)->palette().color(QPalette::Text), QColor(Qt::yellow));
    }

    void coloursFollowValuesReadablyAndKeepTheMarks()
    {
        Window w;
        w.s.get<QCheckBox>("cbCoresPorValor")->click();
        // Lowest of the ignition map blue, highest red; every text readable.
        QLineEdit *low = w.cell(MapId::Ignition, 0, 2), *high = w.cell(MapId::Ignition, 6, 0); // 6 and 34
        QCOMPARE(low->palette().color(QPalette::Base), MapColours::valueColour(0));
        QCOMPARE(high->palette().color(QPalette::Base), MapColours::valueColour(1));
        for (int i = 0; i <= 100; ++i) {
            const QColor back = MapColours::valueColour(i / 100.0);
            QVERIFY2(contrast(back, MapColours::textColour(back)) >= 4.5, qPrintable(back.name()));
        }
        // A typed value recolours its map once the event loop turns.
        w.s.setText("e0", "50");
        QTRY_COMPARE(w.cell(MapId::Ignition, 0, 0)->palette().color(QPalette::Base), MapColours::valueColour(1));
        QCOMPARE(high->palette().color(QPalette::Base), MapColours::valueColour((34.0 - 6) / (50 - 6)));

        // The scanner's marks: thick red frames over the value colours; the cells keep
        // their colours, and the program still sees them marked.
        showLiveData(w.c());
        const QList<int> marked = redCells(w.s);
        QVERIFY(!marked.isEmpty());
        const QSet<int> frames(marked.begin(), marked.end());
        QCOMPARE(w.sheet(MapId::Ignition).frames()->marks(), frames);
        QCOMPARE(w.sheet(MapId::Injection).frames()->marks(), frames);
        const int k = marked.first();
        QLineEdit *markedCell = w.cell(MapId::Injection, k / 8, k % 8);
        QVERIFY(markedCell->palette().color(QPalette::Base) != QColor(Qt::red));
        const QImage picture = w.s.widget("TabSheet1")->grab().toImage();
        picture.save(QDir(pagesFolder()).filePath("maps-colours-scanner.png"));
        const QPoint corner = markedCell->geometry().topLeft() + QPoint(1, markedCell->height() / 2);
        QCOMPARE(picture.pixelColor(corner), QColor(Qt::red));

        // Off: the marks are red cells again, as the scanner left them.
        w.s.get<QCheckBox>("cbCoresPorValor")->click();
        QCOMPARE(markedCell->palette().color(QPalette::Base), QColor(Qt::red));
        QVERIFY(w.sheet(MapId::Injection).frames()->marks().isEmpty());
        QCOMPARE(redCells(w.s), marked);
    }

    void coloursRememberedBetweenRuns()
    {
        {
            Window w;
            w.s.get<QCheckBox>("cbCoresPorValor")->click();
        }
        {
            Window w;
            QVERIFY(w.s.get<QCheckBox>("cbCoresPorValor")->isChecked());
            QVERIFY(w.tools().colours().isOn());
            QCOMPARE(w.cell(MapId::Ignition, 0, 2)->palette().color(QPalette::Base), MapColours::valueColour(0));
            w.s.get<QCheckBox>("cbCoresPorValor")->click();
        }
        Window w;
        QVERIFY(!w.s.get<QCheckBox>("cbCoresPorValor")->isChecked());
    }

    void view3DBuiltWhenOpenedTurnsAndMarks()
    {
        Window w;
        QVERIFY(!w.tools().view3D());
        QVERIFY(w.form.findChildren<MapView3D *>().isEmpty());
        w.s.get<QPushButton>("btnVista3D")->click();
        MapView3D *view = w.tools().view3D();
        QVERIFY(view);
        QVERIFY(QTest::qWaitForWindowExposed(view));
        MapSurface *surface = view->surface();
        QCOMPARE(surface->data().title, QString("Mapa de ignição"));
        QCOMPARE(*surface->data().values[2], 6.0);
        QCOMPARE(*surface->data().values[64], 34.0);
        QCOMPARE(surface->data().rowCaptions.last(), QString("6600"));
        QCOMPARE(surface->data().marked, -1);

        // A drag turns the surface.
        const double yaw = surface->yaw(), pitch = surface->pitch();
        const QPointF before = surface->cellPoint(8, 7);
        QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(200, 200));
        QMouseEvent move(QEvent::MouseMove, QPointF(260, 180), surface->mapToGlobal(QPointF(260, 180)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(surface, &move);
        QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(260, 180));
        QVERIFY(std::abs(surface->yaw() - (yaw + 0.6)) < 1e-9);
        QVERIFY(std::abs(surface->pitch() - (pitch - 0.2)) < 1e-9);
        QVERIFY(surface->cellPoint(8, 7) != before);

        // The other map, and the scanner's cell while it runs.
        view->showMap(MapId::Injection);
        w.c().state().scannerActive = true;
        showLiveData(w.c());
        view->refresh();
        const int k = w.c().scanner().marked()[0];
        QVERIFY(k >= 0 && k < 72);
        QCOMPARE(surface->data().title, QString("Mapa de injeção"));
        QCOMPARE(surface->data().marked, k);
        QCOMPARE(*surface->data().values[71], 8.1);
        surface->setAngles(-0.6, 0.9); // as it opens
        const QImage picture = surface->grab().toImage();
        picture.save(QDir(pagesFolder()).filePath("maps-3d.png"));
        QCOMPARE(picture.pixelColor(surface->cellPoint(k / 8, k % 8).toPoint()), QColor(Qt::red));
        // "Desativar Scanner": the cells keep the last marks (the next run clears them),
        // the view drops its red dot.
        w.s.setText("Button3", "Desativar &Scanner");
        w.c().scanner().Button3Click();
        QVERIFY(!w.c().state().scannerActive);
        QCOMPARE(w.s.color(cells::cellName(MapId::Injection, k / 8, k % 8)), colors::red);
        view->refresh();
        QCOMPARE(surface->data().marked, -1);
        QVERIFY(surface->grab().toImage().pixelColor(surface->cellPoint(k / 8, k % 8).toPoint()) != QColor(Qt::red));
        // Marks gone: nothing marked.
        for (int i = 0; i < 72; ++i) {
            w.s.setColor(cells::cellName(MapId::Ignition, i / 8, i % 8), colors::black);
            w.s.setColor(cells::cellName(MapId::Injection, i / 8, i % 8), colors::black);
        }
        view->refresh();
        QCOMPARE(surface->data().marked, -1);
    }

    // "Definir valor…", "Somar…" and "Multiplicar por %…" in the real window, from the
    // cells' context menu and from their keys, answered in the real box it opens.
    void toolsAskInTheRealBox_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<int>("tool"); // index in the menu
        QTest::addColumn<bool>("injection");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("result"); // row 0, columns 0..2 afterwards
        const QString setMs = "Valor para as células selecionadas (mS; faixa de 0 a 25 mS).\nUse a vírgula decimal "
                              "(ex.: 8,5); o resultado é arredondado a 0,1 mS.";
        const QString addDegrees = "Somar às células selecionadas (graus; negativo subtrai).\nCada célula fica na faixa "
                                   "de 0 a 50 graus.\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a "
                                   "graus inteiros.";
        const QString multiplyMs = "Multiplicar as células selecionadas por (%; 110 aumenta 10 %).\nCada célula fica na "
                                   "faixa de 0 a 25 mS.\nUse a vírgula decimal (ex.: 8,5); o resultado é arredondado a "
                                   "0,1 mS.";
        QTest::newRow("Definir valor… from the menu") << true << 0 << true << "12,34" << "OK" << "" << setMs
                                                      << "12,3\t12,3\t12,3";
        QTest::newRow("Definir valor… by Ctrl+Shift+D") << false << 0 << true << "30" << "OK" << "" << setMs
                                                        << "25\t25\t25";
        QTest::newRow("Somar… from the menu") << true << 1 << false << "-2,5" << "OK" << "0" << addDegrees
                                              << "8\t8\t4";
        QTest::newRow("Somar… by Ctrl+Shift+S") << false << 1 << false << "3" << "OK" << "0" << addDegrees
                                                << "13\t13\t9";
        QTest::newRow("Multiplicar por %… from the menu") << true << 2 << true << "110" << "OK" << "100"
                                                          << multiplyMs << "3,9\t5,7\t6,4";
        QTest::newRow("Multiplicar por %… by Ctrl+Shift+M") << false << 2 << true << "50" << "OK" << "100"
                                                            << multiplyMs << "1,8\t2,6\t2,9";
        QTest::newRow("Cancelar from the menu") << true << 0 << true << "9" << "Cancelar" << "" << setMs
                                                << "3,5\t5,2\t5,8";
        QTest::newRow("Cancelar by the keys") << false << 2 << true << "200" << "Cancelar" << "100" << multiplyMs
                                              << "3,5\t5,2\t5,8";
    }
    void toolsAskInTheRealBox()
    {
        QFETCH(bool, fromMenu);
        QFETCH(int, tool);
        QFETCH(bool, injection);
        QFETCH(QString, button);
        const MapId map = injection ? MapId::Injection : MapId::Ignition;
        Window w(true);
        QLineEdit *e = w.cell(map, 0, 0);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        QTest::mouseClick(w.cell(map, 0, 2), Qt::LeftButton, Qt::ShiftModifier);
        const int steps = w.c().history().count();
        const QStringList before = w.texts(map);
        TextBoxAnswer answer;
        QFETCH(QString, typed);
        answer.typed = typed;
        answer.button = button;
        answer.arm();
        if (fromMenu) {
            // The right button's menu over the selection, as the cell opens it.
            QContextMenuEvent event(QContextMenuEvent::Mouse, centre(e), e->mapToGlobal(centre(e)));
            QApplication::sendEvent(e, &event);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QMenu *tools = nullptr;
            for (QAction *a : menu->actions())
                if (a->text() == " Ferramentas ")
                    tools = a->menu<QMenu *>();
            QVERIFY(tools);
            QAction *entry = tools->actions().at(tool);
            QCOMPARE(entry->text(), MapSheet::tools().at(tool).caption);
            tools->popup(menu->mapToGlobal(menu->actionGeometry(tools->menuAction()).topRight()));
            QVERIFY(QTest::qWaitForWindowExposed(tools));
            QTest::mouseClick(tools, Qt::LeftButton, {}, tools->actionGeometry(entry).center());
        } else {
            QTest::keyClick(e, Qt::Key(MapSheet::tools().at(tool).key[0].key()), Qt::ControlModifier | Qt::ShiftModifier);
        }
        QVERIFY(answer.found);
        QVERIFY(answer.modal);
        QCOMPARE(answer.title, QString("Velto"));
        QTEST(answer.question, "question");
        QCOMPARE(answer.buddyOf, QString("eResposta"));
        QTEST(answer.initial, "initial");
        QCOMPARE(answer.buttons, QStringList({"OK", "Cancelar"}));
        QTEST(w.c().mapCopy(map, CellRect{0, 0, 0, 2}), "result");
        QVERIFY(!QApplication::activeModalWidget()); // no message box after it
        if (button == "Cancelar") {
            QCOMPARE(w.texts(map), before);
            QCOMPARE(w.c().history().count(), steps);
            QVERIFY(!w.c().unsaved());
        } else {
            QCOMPARE(w.c().history().count(), steps + 1);
        }
    }

    // A word typed into the real box: one message box, in Portuguese, nothing changed.
    void toolRefusesAWordInTheRealBox()
    {
        Window w(true);
        QLineEdit *e = w.cell(MapId::Injection, 4, 4);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        const QStringList before = w.texts(MapId::Injection);
        TextBoxAnswer answer;
        answer.typed = "abc";
        answer.button = "OK";
        answer.arm();
        QString message;
        // After the question: the message box that follows it.
        RealDialog::answerNext<QMessageBox>([&message](QMessageBox *box) {
            message = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::keyClick(e, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(answer.found);
        QTRY_COMPARE(message, QString(" Atenção ! !  'abc' não é um número: nada mudou.  "));
        QCOMPARE(w.texts(MapId::Injection), before);
    }

    // The percent view shows 0,1 %: a copy then paste of the whole map, and the paste of
    // a value the cell holds ("8" over "8,0"), change nothing: no step, no unsaved mark.
    void pasteOfWhatTheCellsHoldIsNoChange()
    {
        Window w;
        QLineEdit *e = w.cell(MapId::Injection, 0, 0);
        for (bool percent : {false, true}) {
            if (percent)
                w.c().btnPercentualClick();
            w.c().history().markSaved();
            const int steps = w.c().history().count();
            const QStringList before = w.texts(MapId::Injection);
            QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
            w.sheet(MapId::Injection).selectAll();
            QTest::keyClick(e, Qt::Key_C, Qt::ControlModifier);
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(w.prompt.messages, QStringList());
            QCOMPARE(w.texts(MapId::Injection), before);
            QCOMPARE(w.c().history().count(), steps);
            QVERIFY(!w.c().unsaved());
        }
        // "8" over "8,0" in the percent view.
        w.s.setText("e9i", "8,0");
        w.c().history().markSaved();
        const int steps = w.c().history().count();
        QLineEdit *cell = w.cell(MapId::Injection, 1, 1);
        QTest::mouseClick(cell, Qt::LeftButton, {}, centre(cell));
        QGuiApplication::clipboard()->setText("8\r\n");
        QTest::keyClick(cell, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(cell->text(), QString("8,0"));
        QCOMPARE(w.c().history().count(), steps);
        QVERIFY(!w.c().unsaved());
    }

    // Ctrl+C and Ctrl+V shown once each in the cell's menu, beside the entry they trigger.
    void menuShowsEachKeyOnce()
    {
        Window w;
        auto keysShown = [&](MapId map, int row, int column) {
            QLineEdit *cell = w.cell(map, row, column);
            QContextMenuEvent event(QContextMenuEvent::Mouse, centre(cell), cell->mapToGlobal(centre(cell)));
            QApplication::sendEvent(cell, &event);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QStringList shown;
            for (QAction *a : menu ? menu->actions() : QList<QAction *>()) {
                const QString text = a->text();
                const QString key = text.contains('\t') ? text.section('\t', 1) : a->shortcut().toString();
                const bool cells = text.endsWith(" células"); // the field's own entries are Qt's
                if (key == "Ctrl+C" || key == "Ctrl+V")
                    shown << (cells ? text : QString("campo")) + " = " + key;
            }
            if (menu)
                menu->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return shown;
        };
        QLineEdit *e = w.cell(MapId::Ignition, 0, 0);
        QTest::mouseClick(e, Qt::LeftButton, {}, centre(e));
        e->selectAll();
        QGuiApplication::clipboard()->setText("7");
        QCOMPARE(keysShown(MapId::Ignition, 0, 0), QStringList({"campo = Ctrl+C", "campo = Ctrl+V"}));
        QGuiApplication::clipboard()->setText("1\t2\r\n");
        QCOMPARE(keysShown(MapId::Ignition, 0, 0), QStringList({"campo = Ctrl+C", "Colar células = Ctrl+V"}));
        QTest::mouseClick(w.cell(MapId::Ignition, 1, 1), Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(keysShown(MapId::Ignition, 0, 0), QStringList({"Copiar células = Ctrl+C", "Colar células = Ctrl+V"}));
    }

    // With "Cores por valor" the scanner's frame stays visible on the hottest (red) cell:
    // a light line on both sides of the red one.
    void markFrameVisibleOnTheHottestCell()
    {
        Window w;
        w.s.get<QCheckBox>("cbCoresPorValor")->click();
        showLiveData(w.c());
        const int k = redCells(w.s).first();
        w.s.setText(cells::cellName(MapId::Injection, k / 8, k % 8), "25");
        w.tools().colours().recolour();
        QLineEdit *cell = w.cell(MapId::Injection, k / 8, k % 8);
        QCOMPARE(cell->palette().color(QPalette::Base), MapColours::valueColour(1));
        MapFrames *frames = w.sheet(MapId::Injection).frames();
        QWidget *page = w.s.widget("TabSheet1");
        const QImage picture = page->grab().toImage();
        picture.save(QDir(pagesFolder()).filePath("maps-colours-hottest-mark.png"));
        const int cw = frames->width() / 8, ch = frames->height() / 9;
        const QPoint left = frames->mapTo(page, QPoint((k % 8) * cw, (k / 8) * ch + ch / 2));
        QCOMPARE(picture.pixelColor(left), QColor(Qt::white));
        QCOMPARE(picture.pixelColor(left + QPoint(2, 0)), QColor(Qt::red));
        QCOMPARE(picture.pixelColor(left + QPoint(4, 0)), QColor(Qt::white));
    }
};

QTEST_MAIN(TstMapSheet)
#include "tst_mapsheet.moc"
