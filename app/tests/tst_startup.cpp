// The window that builds its map page after the first paint (as the program starts)
// is the same window as one built at once: every control with its place, text, state,
// hint, font, colours, label and keyboard order, and every page to the pixel. Anything
// that reaches the map page before that paint finds it built as well.
#include "app/editablecombo.h"
#include "app/form1.h"
#include "app/portcombo.h"
#include "app/startupprefetch.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "fakes.h"
#include "serial/portnames.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QStyledItemDelegate>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QtTest>

#include <atomic>
#include <stdexcept>

namespace
{

const QStringList ports = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")};

// Everything a person or a test could tell about one control.
QString describe(WidgetScreen &s, const QString &name)
{
    QWidget *w = s.widget(name);
    QStringList d;
    d << QString::fromLatin1(w->metaObject()->className()) << w->parentWidget()->objectName();
    const QRect r(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    d << QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    d << s.text(name) << QString::number(s.isEnabled(name)) << QString::number(s.isVisible(name))
      << QString::number(w->isHidden()) << w->toolTip() << w->accessibleName() << w->font().toString()
      << QString::number(int(w->focusPolicy()));
    const QPalette p = w->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text,
                                     QPalette::Button, QPalette::ButtonText})
        d << p.color(role).name();
    if (auto *l = qobject_cast<QLabel *>(w))
        d << (l->buddy() ? l->buddy()->objectName() : QString()) << QString::number(l->pixmap().cacheKey() != 0);
    if (auto *e = qobject_cast<QLineEdit *>(w))
        d << QString::number(e->isReadOnly()) << QString::number(int(e->alignment()));
    return d.join(QLatin1Char('|'));
}

// The named controls that Tab reaches, in the order it reaches them.
QStringList tabOrder(QWidget *form)
{
    QStringList order;
    QWidget *w = form;
    do {
        w = w->nextInFocusChain();
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty())
            order << w->objectName();
    } while (w != form);
    return order;
}

// What a person, a test or the toolkit could tell about an editable box: its line
// edit, its completer, its focus, its sizes and, once opened, its drop-down list.
QString describeEditable(QComboBox *box)
{
    QStringList d;
    QLineEdit *edit = box->lineEdit();
    d << QString::number(box->isEditable()) << QString::number(edit != nullptr);
    if (!edit)
        return d.join(QLatin1Char('|'));
    const QRect r = edit->geometry();
    d << QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
      << QString::number(edit->completer() != nullptr) << QString::number(int(box->focusPolicy()))
      << QString::number(int(edit->focusPolicy())) << QString::number(edit->focusProxy() == box)
      << QString::number(edit->hasFrame()) << QString::number(int(edit->contextMenuPolicy()))
      << QString::number(box->testAttribute(Qt::WA_InputMethodEnabled)) << edit->text() << box->currentText()
      << QString::number(box->currentIndex()) << QString::number(int(box->insertPolicy()));
    const QSize hint = box->sizeHint(), least = box->minimumSizeHint();
    d << QStringLiteral("%1x%2 %3x%4").arg(hint.width()).arg(hint.height()).arg(least.width()).arg(least.height());
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Text, QPalette::Highlight})
        d << edit->palette().color(role).name();
    QAbstractItemView *list = box->view();
    d << QString::number(int(list->verticalScrollBarPolicy())) << QString::number(int(list->horizontalScrollBarPolicy()))
      << QString::number(list->hasMouseTracking()) << QString::fromLatin1(list->itemDelegate()->metaObject()->className())
      << QString::number(int(list->textElideMode())) << list->palette().color(QPalette::Base).name();
    if (auto *frame = qobject_cast<QFrame *>(list->parentWidget()))
        d << QString::number(frame->frameStyle()) << QString::number(frame->lineWidth());
    return d.join(QLatin1Char('|'));
}

enum class BoxKind { Plain, WithEntries, ListMade, Port, OwnPalette };

QComboBox *boxOf(BoxKind kind, QWidget *parent)
{
    QComboBox *box = kind == BoxKind::Port ? new TPortCombo(parent) : new QComboBox(parent);
    box->setGeometry(10, 10, 132, 24);
    if (kind == BoxKind::WithEntries || kind == BoxKind::ListMade)
        box->addItems({QStringLiteral("Mapa 1"), QStringLiteral("Mapa 2 e 3"), QStringLiteral("Só ignição")});
    if (kind == BoxKind::ListMade)
        box->setItemDelegate(new QStyledItemDelegate(box));
    if (kind == BoxKind::OwnPalette) {
        QPalette p = box->palette();
        p.setColor(QPalette::Base, QColor(255, 255, 200));
        box->setPalette(p);
    }
    return box;
}

QImage page(TForm1 &form, int index)
{
    form.pages()->setCurrentIndex(index);
    return form.grab().toImage();
}

} // namespace

class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void builtAfterFirstPaintAsAtOnce();
    void reachedBeforeFirstPaint_data();
    void reachedBeforeFirstPaint();
    void portsAndFontsLoadedBesideTheToolkit();
    void portListThatFailsToRead();
    void editableBoxAsTheToolkitMakesIt_data();
    void editableBoxAsTheToolkitMakesIt();
};

void TstStartup::builtAfterFirstPaintAsAtOnce()
{
    FakePrompt promptNow, promptLater;
    TForm1 now(&promptNow, ports);
    TForm1 later(&promptLater, ports, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    QVERIFY(now.findChild<QLineEdit *>(QStringLiteral("e0")));
    QVERIFY(!later.findChild<QLineEdit *>(QStringLiteral("e0"))); // not built yet

    // What the first paint shows is already the same.
    QCOMPARE(later.grab().toImage(), now.grab().toImage());
    QVERIFY(!later.findChild<QLineEdit *>(QStringLiteral("e0")));

    now.show();
    later.show();
    QTRY_VERIFY(later.findChild<QLineEdit *>(QStringLiteral("e0")));

    WidgetScreen &a = now.widgetScreen(), &b = later.widgetScreen();
    QStringList names = a.names(), laterNames = b.names();
    names.sort();
    laterNames.sort();
    QCOMPARE(laterNames, names);
    for (const QString &name : names)
        QCOMPARE(describe(b, name), describe(a, name));
    QCOMPARE(tabOrder(&later), tabOrder(&now));
    QCOMPARE(page(later, 0), page(now, 0));
    QCOMPARE(page(later, 1), page(now, 1));

    // The history starts from the start-up screen.
    for (TForm1 *form : {&now, &later}) {
        QVERIFY(!form->controller().canUndo());
        QVERIFY(!form->controller().unsaved());
    }
    QVERIFY(promptNow.messages.isEmpty());
    QVERIFY(promptLater.messages.isEmpty());
}

void TstStartup::reachedBeforeFirstPaint_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("a cell's text") << 0;
    QTest::newRow("a handler") << 1;
    QTest::newRow("the map page's tab") << 2;
    QTest::newRow("the map tools") << 3;
}

void TstStartup::reachedBeforeFirstPaint()
{
    QFETCH(int, way);
    FakePrompt prompt;
    TForm1 form(&prompt, ports, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    WidgetScreen &s = form.widgetScreen();
    QVERIFY(!form.findChild<QLineEdit *>(QStringLiteral("e70i")));
    QString cell;
    switch (way) {
    case 0:
        cell = s.text(QStringLiteral("e70i"));
        break;
    case 1:
        form.guarded([&] { cell = form.controller().context().screen.text(QStringLiteral("e70i")); });
        break;
    case 2:
        form.pages()->setCurrentIndex(0);
        break;
    case 3:
        form.mapPageTools();
        break;
    }
    auto *e70i = form.findChild<QLineEdit *>(QStringLiteral("e70i"));
    QVERIFY(e70i);
    QCOMPARE(e70i->text(), QStringLiteral("8,1"));
    if (way < 2)
        QCOMPARE(cell, QStringLiteral("8,1"));
    // A history that undoes to the start-up map.
    QVERIFY(!form.controller().canUndo());
    s.setText(QStringLiteral("e70i"), QStringLiteral("8,2"));
    form.guarded([&] { form.controller().fieldLeft(); });
    QVERIFY(form.controller().canUndo());
    QVERIFY(!s.widget(QStringLiteral("btnDesfazer"))->isHidden());
    QVERIFY(s.widget(QStringLiteral("btnDesfazer"))->isEnabled());
    form.guarded([&] { form.controller().undo(); });
    QCOMPARE(e70i->text(), QStringLiteral("8,1"));
    QVERIFY(prompt.messages.isEmpty());
}

// As the program starts: the port list read on the prefetch's thread is the window's,
// taken once, and the window is the one built without a prefetch, to the pixel.
void TstStartup::portsAndFontsLoadedBesideTheToolkit()
{
    std::atomic<int> reads = 0;
    StartupPrefetch prefetch([&reads] {
        ++reads;
        return ports;
    });
    // As main() tells it; a second word changes nothing.
    prefetch.applicationStarted();
    prefetch.applicationStarted();
    FakePrompt prompt, promptPlain, promptSecond;
    TForm1 form(&prompt, std::nullopt, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    WidgetScreen &s = form.widgetScreen();
    QCOMPARE(s.items(QStringLiteral("cbPorta")), ports);
    QCOMPARE(s.text(QStringLiteral("cbPorta")), ports.first());
    QCOMPARE(reads.load(), 1);

    TForm1 plain(&promptPlain, ports, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    QCOMPARE(form.grab().toImage(), plain.grab().toImage());
    form.ensureMapPage();
    plain.ensureMapPage();
    QCOMPARE(page(form, 0), page(plain, 0));

    // The list read at start goes to one window; another one reads the ports itself.
    TForm1 second(&promptSecond, std::nullopt, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    QCOMPARE(reads.load(), 1);
    QCOMPARE(second.widgetScreen().items(QStringLiteral("cbPorta")), EnumComPorts());
    QVERIFY(prompt.messages.isEmpty());
    QVERIFY(promptSecond.messages.isEmpty());
}

// An error while the list is read on the other thread is the window's error, shown
// when the window takes the list; the window starts without ports, as with any
// error of its start-up steps.
void TstStartup::portListThatFailsToRead()
{
    StartupPrefetch prefetch([]() -> QStringList { throw std::runtime_error("cannot read /sys/class/tty"); });
    FakePrompt prompt;
    TForm1 form(&prompt, std::nullopt, nullptr, nullptr, TForm1::MapPageBuild::AfterFirstPaint);
    QCOMPARE(prompt.messages, QStringList{QStringLiteral("cannot read /sys/class/tty")});
    WidgetScreen &s = form.widgetScreen();
    QVERIFY(s.items(QStringLiteral("cbPorta")).isEmpty());
    QCOMPARE(s.text(QStringLiteral("cbPorta")), QStringLiteral("!!"));
    QVERIFY(s.isEnabled(QStringLiteral("btnAtivar")));
    QCOMPARE(form.pages()->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
}

// makeEditable leaves a box as setEditable(true) and setCompleter(nullptr) leave it:
// the same line edit, focus, sizes and picture, the same typing (no completion), and
// the same drop-down list once it is opened.
void TstStartup::editableBoxAsTheToolkitMakesIt_data()
{
    QTest::addColumn<BoxKind>("kind");
    QTest::newRow("an empty box") << BoxKind::Plain;
    QTest::newRow("a box with entries") << BoxKind::WithEntries;
    QTest::newRow("a box whose list exists") << BoxKind::ListMade;
    QTest::newRow("the port box") << BoxKind::Port;
    QTest::newRow("a box with a palette of its own") << BoxKind::OwnPalette;
}

void TstStartup::editableBoxAsTheToolkitMakesIt()
{
    QFETCH(BoxKind, kind);
    QWidget toolkitWindow, lightWindow;
    for (QWidget *w : {&toolkitWindow, &lightWindow}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, Qt::white);
        w->setPalette(p);
        w->setFont(QFont(QStringLiteral("Arial"), 12));
        w->resize(200, 60);
    }
    QComboBox *toolkit = boxOf(kind, &toolkitWindow);
    toolkit->setEditable(true);
    toolkit->setCompleter(nullptr);
    QComboBox *light = boxOf(kind, &lightWindow);
    makeEditable(light);
    QVERIFY(light->lineEdit());
    QVERIFY(!light->lineEdit()->completer());
    QCOMPARE(lightWindow.grab().toImage(), toolkitWindow.grab().toImage());

    // Typing: no completion fills in the rest of an entry, nothing is added.
    for (QComboBox *box : {toolkit, light}) {
        box->clearEditText();
        QTest::keyClicks(box->lineEdit(), QStringLiteral("Mapa"));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    }
    QCOMPARE(light->lineEdit()->text(), QStringLiteral("Mapa"));
    QCOMPARE(light->count(), toolkit->count());
    QCOMPARE(describeEditable(light), describeEditable(toolkit));
    QCOMPARE(lightWindow.grab().toImage(), toolkitWindow.grab().toImage());
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
