// The window's dialog paths end to end: the real window with its own prompt, each box
// or file dialog it opens found and answered as a user answers it (typing into it,
// pressing its buttons), and what the window did afterwards.
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
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

// Types path into the file dialog's name field and presses its accept button ("Save",
// "Open"), or presses its "Cancel" button when path is empty.
void answerFileDialog(const QString &path)
{
    RealDialog::answerNext<QFileDialog>([path](QFileDialog *d) {
        auto *buttons = d->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(buttons);
        if (path.isEmpty()) {
            QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            return;
        }
        auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        // The whole name at once: typed key by key, the folder completer adds to it.
        name->setFocus();
        name->setText(path);
        QAbstractButton *accept = nullptr;
        for (QAbstractButton *b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                accept = b;
        QVERIFY(accept);
        accept->click();
    });
}

// Records the message box's text and buttons and presses the one with that caption.
void answerBox(const QString &button, QString *text, QStringList *buttons = nullptr)
{
    RealDialog::answerNext<QMessageBox>([button, text, buttons](QMessageBox *box) {
        *text = box->text();
        QAbstractButton *chosen = nullptr;
        for (QAbstractButton *b : box->buttons()) {
            if (buttons)
                *buttons << b->text();
            if (b->text() == button)
                chosen = b;
        }
        QVERIFY(chosen);
        QTest::mouseClick(chosen, Qt::LeftButton);
    });
}

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
};

QTEST_MAIN(TstWindowDialogs)
#include "tst_windowdialogs.moc"
