// The port list box: paths as entries, descriptions in the drop-down, the list read
// again when the drop-down opens with the text shown kept, and "&Ativar" opening
// the path of the chosen entry.
#include "app/form1.h"
#include "app/portcombo.h"
#include "app/widgetscreen.h"
#include "fakes.h"
#include "../../serial/tests/ptypair.h"

#include <QAbstractItemView>
#include <QPushButton>
#include <QtTest>

class TstPortCombo : public QObject
{
    Q_OBJECT
private slots:
    void listReadAgainWhenTheDropDownOpens_data();
    void listReadAgainWhenTheDropDownOpens();
    void chosenEntryIsWhatActivateOpens();
};

namespace
{

QList<SerialPortInfo> ports(const QStringList &paths)
{
    QList<SerialPortInfo> list;
    for (const QString &p : paths)
        list.append({p, QStringLiteral("FTDI FT232R USB UART, nº de série ") + p.right(1), !p.endsWith('2')});
    return list;
}

} // namespace

void TstPortCombo::listReadAgainWhenTheDropDownOpens_data()
{
    QTest::addColumn<QString>("typed");  // empty: keep the entry selected at start-up
    QTest::addColumn<QStringList>("now"); // the list when the drop-down opens
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::newRow("entry shown, still there, now second")
        << "" << QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB2"} << "/dev/ttyUSB0" << 1;
    QTest::newRow("entry shown, unplugged meanwhile")
        << "" << QStringList{"/dev/ttyUSB1"} << "/dev/ttyUSB0" << -1;
    QTest::newRow("typed path kept") << "/dev/pts/9" << QStringList{"/dev/ttyUSB0"} << "/dev/pts/9" << -1;
    QTest::newRow("typed path that is now an entry")
        << "/dev/ttyUSB2" << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB2"} << "/dev/ttyUSB2" << 1;
    QTest::newRow("placeholder kept, list now empty") << "!!" << QStringList{} << "!!" << -1;
}

void TstPortCombo::listReadAgainWhenTheDropDownOpens()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, now);
    QFETCH(QString, text);
    QFETCH(int, index);
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{"/dev/ttyUSB0", "/dev/ttyS0"});
    form.show();
    auto *combo = qobject_cast<TPortCombo *>(form.widgetScreen().get<QComboBox>("cbPorta"));
    QVERIFY(combo);
    int reads = 0;
    combo->setSource([&] {
        ++reads;
        return ports(now);
    });
    if (!typed.isEmpty())
        form.widgetScreen().setText("cbPorta", typed);

    combo->showPopup();
    QCOMPARE(reads, 1);
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    QCOMPARE(entries, now);
    QCOMPARE(combo->currentText(), text);
    QCOMPARE(combo->currentIndex(), index);
    for (int i = 0; i < combo->count(); ++i) {
        const QString description = now[i].endsWith('2')
                                        ? "FTDI FT232R USB UART, nº de série 2 (sem permissão)"
                                        : "FTDI FT232R USB UART, nº de série " + now[i].right(1);
        QCOMPARE(combo->itemData(i, TPortCombo::DescriptionRole).toString(), description);
        QCOMPARE(combo->itemData(i, Qt::ToolTipRole).toString(), now[i] + "   " + description);
    }
    if (QTest::currentDataTag() == QByteArray("entry shown, still there, now second")) {
        QTest::qWait(300); // the drop-down's opening animation
        QVERIFY(combo->view()->isVisible());
        QVERIFY(combo->view()->width() > combo->width()); // room for the descriptions
        combo->view()->window()->grab().save(QDir::temp().filePath("velto-portcombo.png"));
    }
    combo->hidePopup();
    QVERIFY(prompt.messages.isEmpty());
}

void TstPortCombo::chosenEntryIsWhatActivateOpens()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    form.show();
    auto *combo = qobject_cast<TPortCombo *>(form.widgetScreen().get<QComboBox>("cbPorta"));
    combo->setSource([&] { return QList<SerialPortInfo>{{"/dev/velto-no-such-tty", "", true},
                                                        {pty.slaveName(), "Pseudo-terminal", true}}; });
    combo->showPopup();
    QTest::qWait(300);
    const QModelIndex entry = combo->model()->index(1, 0);
    QTest::mouseClick(combo->view()->viewport(), Qt::LeftButton, {}, combo->view()->visualRect(entry).center());
    QTRY_VERIFY(!combo->view()->isVisible());
    QCOMPARE(combo->currentText(), pty.slaveName());
    form.widgetScreen().get<QPushButton>("btnAtivar")->click();
    QVERIFY(form.ComPort1().Connected());
    QCOMPARE(form.ComPort1().port(), pty.slaveName());
    QCOMPARE(prompt.messages, QStringList{});
}

QTEST_MAIN(TstPortCombo)
#include "tst_portcombo.moc"
