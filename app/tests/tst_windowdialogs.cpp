// The window's dialog paths end to end: the real window with its own prompt, each box
// or file dialog it opens found and answered as a user answers it (typing into it,
// pressing its buttons), and what the window did afterwards.
#include "app/comparedialog.h"
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "realdialog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

struct RealWindow {
    RealWindow() : form(nullptr, QStringList{})
    {
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    void click(const char *name) { QTest::mouseClick(s.get<QAbstractButton>(name), Qt::LeftButton); }
};

} // namespace

class TstWindowDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // "Salvar" and "Carregar" through the real file dialogs; Escape saves nothing.
    void mapFileSavedAndLoadedThroughTheRealDialogs()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("mapa1.txt");
        RealWindow w;
        const QString injection = w.s.text("e6i");
        w.s.setText("e0", "33");
        answerFileDialog(QString());
        w.click("btnSalvar");
        QVERIFY(!QFile::exists(path));
        QVERIFY(w.form.controller().unsaved());

        answerFileDialog(path);
        w.click("btnSalvar");
        QVERIFY(QFile::exists(path));
        QVERIFY(!w.form.controller().unsaved());

        w.s.setText("e0", "1");
        w.s.setText("e6i", "9,9");
        answerFileDialog(path);
        w.click("btnCarregar");
        QCOMPARE(w.s.text("e0"), QString("33"));
        QCOMPARE(w.s.text("e6i"), injection);
        QVERIFY(!w.form.controller().unsaved());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // Closing with unsaved changes asks in the real box: "Cancelar" keeps the window,
    // "Sair sem salvar" closes it.
    void closeAsksInTheRealBox()
    {
        RealWindow w;
        w.s.setText("e0", "33");
        QString text;
        QStringList buttons;
        answerBox("Cancelar", &text, &buttons);
        w.form.close();
        QCOMPARE(text, QString(" Os dados da tela foram alterados e não foram salvos. Salvar antes de sair? "));
        QCOMPARE(buttons, QStringList({"Salvar", "Sair sem salvar", "Cancelar"}));
        QVERIFY(w.form.isVisible());
        answerBox("Sair sem salvar", &text);
        w.form.close();
        QVERIFY(!w.form.isVisible());
    }

    // "Salvar" in the close question opens the real save dialog; its file is written.
    void closeSavesThroughTheRealBoxes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("antes de sair.txt");
        RealWindow w;
        w.s.setText("e0", "34");
        QString text;
        answerBox("Salvar", &text);
        answerFileDialog(path); // opens once the box has closed
        w.form.close();
        QVERIFY(QFile::exists(path));
        QVERIFY(!w.form.isVisible());
    }

    // "Salvar" in the close question, then "Cancel" in the save dialog: nothing is
    // written and the window stays open with its changes.
    void closeKeepsTheWindowWhenTheSaveIsCancelled()
    {
        RealWindow w;
        w.s.setText("e0", "35");
        QString text;
        answerBox("Salvar", &text);
        answerFileDialog(QString());
        w.form.close();
        QVERIFY(!text.isEmpty());
        QVERIFY(w.form.isVisible());
        QVERIFY(w.form.controller().unsaved());
        QCOMPARE(w.s.text("e0"), QString("35"));
        QVERIFY(!QApplication::activeModalWidget());
        answerBox("Sair sem salvar", &text);
        w.form.close();
        QVERIFY(!w.form.isVisible());
    }

    // A refusal reaches the user in the real message box, in Portuguese, with OK.
    void refusalInTheRealMessageBox()
    {
        RealWindow w;
        QFile bad(QDir::temp().filePath("velto-vazio.txt"));
        QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
        bad.close();
        const QString before = w.s.text("e0");
        QString text;
        QStringList buttons;
        answerFileDialog(bad.fileName());
        answerBox("OK", &text, &buttons); // after the file dialog
        w.click("btnCarregar");
        QTRY_VERIFY(!text.isEmpty());
        QVERIFY2(text.contains("vazio"), qPrintable(text));
        QCOMPARE(buttons, QStringList("OK"));
        QCOMPARE(w.s.text("e0"), before);
        bad.remove();
    }

    // "Comparar" through the real open dialog: "Cancel" opens nothing; a map file opens
    // the compare dialog with the fields that differ, and a double-click on a row shows
    // that field; a file that does not load is told in the real box and the open
    // compare dialog stays as it was.
    void compareThroughTheRealDialogs()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("outro mapa.txt");
        RealWindow w;
        Tune other = w.form.controller().mapFile().screenTune();
        other.texts[mapfile::fieldControls().indexOf("e21")] = "19";
        other.tpsMin = 150;
        MapFile::writeFile(path, mapfile::encodeLine(other.fields()));
        w.form.pages()->setCurrentWidget(w.s.widget("TabSheet2"));

        answerFileDialog(QString());
        w.click("btnComparar");
        QVERIFY(!w.form.compareDialog());
        QVERIFY(!QApplication::activeModalWidget());

        answerFileDialog(path);
        w.click("btnComparar");
        CompareDialog *dialog = w.form.compareDialog();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(dialog->windowTitle(), QString("Comparar com outro mapa.txt"));
        QTableWidget *table = dialog->table();
        QStringList rows;
        for (int r = 0; r < table->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells << table->item(r, c)->text();
            rows << cells.join(" | ");
        }
        QCOMPARE(rows, QStringList({"30 | e21 | ignição linha 3 coluna 6 | 28 | 19",
                                    "201 | tpsMin | TPS mínimo | 130 | 150"}));
        QVERIFY(!w.form.controller().unsaved()); // comparing changes nothing
        const QPoint row0 = table->visualItemRect(table->item(0, 2)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row0);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, row0);
        QTRY_COMPARE(w.form.pages()->currentWidget(), w.s.widget("TabSheet1"));
        QCOMPARE(w.form.focusWidget(), w.s.widget("e21"));

        const QString bad = dir.filePath("ruim.txt");
        MapFile::writeFile(bad, "TPS X RPM;20\r\n");
        w.form.pages()->setCurrentWidget(w.s.widget("TabSheet2"));
        QString text;
        QStringList buttons;
        answerFileDialog(bad);
        answerBox("OK", &text, &buttons); // after the file dialog
        w.click("btnComparar");
        QTRY_VERIFY(!text.isEmpty());
        QCOMPARE(text, QString(" Atenção ! !  Arquivo de mapa inválido: 2 campos em vez de 202. Nada foi carregado.  "));
        QCOMPARE(buttons, QStringList("OK"));
        QCOMPARE(w.form.compareDialog(), dialog);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TstWindowDialogs)
#include "tst_windowdialogs.moc"
