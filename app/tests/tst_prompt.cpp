// The real message box and file dialogs, set up from the core's requests.
#include "app/widgetprompt.h"

#include "core/tunediff.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TstPrompt : public QObject
{
    Q_OBJECT
private slots:
    void nameFilters_data();
    void nameFilters();
    void saveDialog();
    void openDialog();
    void messageBoxIsModalWithOk();
    void questionKeepsTheButtonsInOrder_data();
    void questionKeepsTheButtonsInOrder();
    void moduleCheckShowsTheCompareTable_data();
    void moduleCheckShowsTheCompareTable();
};

void TstPrompt::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("qt");
    QTest::newRow("map files") << "Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*"
                               << QStringList{"Arquivos Compatíveis (.txt) (*.txt)", "Todos os arquivos (*.*)"};
    QTest::newRow("one entry") << "Texto|*.txt" << QStringList{"Texto (*.txt)"};
    QTest::newRow("several patterns") << "Mapas|*.txt;*.map" << QStringList{"Mapas (*.txt;*.map)"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TstPrompt::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, qt);
    QCOMPARE(prompt::nameFilters(filter), qt);
}

void TstPrompt::saveDialog()
{
    QTemporaryDir dir;
    const FileDialogSpec setup{"Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*", "*.txt", dir.path()};
    auto d = prompt::fileDialog(nullptr, setup, true);
    QCOMPARE(d->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(d->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(d->defaultSuffix(), QStringLiteral("txt"));
    QCOMPARE(d->nameFilters(), (QStringList{"Arquivos Compatíveis (.txt) (*.txt)", "Todos os arquivos (*.*)"}));
    QCOMPARE(d->selectedNameFilter(), QStringLiteral("Arquivos Compatíveis (.txt) (*.txt)"));
    QCOMPARE(QDir(d->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
}

void TstPrompt::openDialog()
{
    // A folder of another system does not exist here: the dialog opens where it is.
    const FileDialogSpec setup{"Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*", "txt",
                              "C:\\InjeçãoSorvaniVelto"};
    auto d = prompt::fileDialog(nullptr, setup, false);
    QCOMPARE(d->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(d->fileMode(), QFileDialog::AnyFile); // a missing file is reported by the load
    QCOMPARE(d->defaultSuffix(), QStringLiteral("txt"));
    QVERIFY(d->directory().exists());
}

void TstPrompt::messageBoxIsModalWithOk()
{
    QWidget parent;
    parent.show();
    WidgetPrompt p(&parent);
    QString title, text;
    int buttons = 0;
    bool modal = false;
    QTimer::singleShot(0, &parent, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        modal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    });
    p.message(QStringLiteral("Módulo não responde"));
    QCOMPARE(title, QStringLiteral("Velto"));
    QCOMPARE(text, QStringLiteral("Módulo não responde"));
    QCOMPARE(buttons, 1);
    QVERIFY(modal);
}


void TstPrompt::questionKeepsTheButtonsInOrder_data()
{
    QTest::addColumn<int>("press"); // the button clicked, -1 for Escape
    QTest::addColumn<int>("answer");
    QTest::newRow("Salvar") << 0 << 0;
    QTest::newRow("Sair sem salvar") << 1 << 1;
    QTest::newRow("Cancelar") << 2 << 2;
    QTest::newRow("Escape") << -1 << 2;
}

void TstPrompt::questionKeepsTheButtonsInOrder()
{
    QFETCH(int, press);
    QFETCH(int, answer);
    QWidget parent;
    parent.show();
    WidgetPrompt p(&parent);
    QStringList captions;
    QString text, defaultCaption;
    bool modal = false;
    QTimer::singleShot(0, &parent, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        modal = box->isModal();
        for (QAbstractButton *b : box->buttons())
            captions << b->text();
        defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
        if (press < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->buttons().at(press)->click();
    });
    const int chosen = p.question(QStringLiteral(" Salvar antes de sair? "),
                                  {QStringLiteral("Salvar"), QStringLiteral("Sair sem salvar"), QStringLiteral("Cancelar")});
    QCOMPARE(text, QStringLiteral(" Salvar antes de sair? "));
    QCOMPARE(captions, QStringList({"Salvar", "Sair sem salvar", "Cancelar"}));
    QCOMPARE(defaultCaption, QStringLiteral("Salvar"));
    QVERIFY(modal);
    QCOMPARE(chosen, answer);
}

void TstPrompt::moduleCheckShowsTheCompareTable_data()
{
    QTest::addColumn<QString>("press"); // the caption clicked, empty for Escape
    QTest::addColumn<int>("answer");
    QTest::newRow("Enviar a tela ao módulo") << "Enviar a tela ao módulo" << 0;
    QTest::newRow("Carregar o módulo na tela") << "Carregar o módulo na tela" << 1;
    QTest::newRow("Manter assim") << "Manter assim" << 2;
    QTest::newRow("Escape keeps all") << "" << 2;
}

// The check after a reconnect lists the fields as "Comparar" does and offers the three
// choices as buttons found by their captions.
void TstPrompt::moduleCheckShowsTheCompareTable()
{
    QFETCH(QString, press);
    QFETCH(int, answer);
    const QList<tunediff::Difference> differences{
        {30, "e21", "ignição linha 3 coluna 6", "28", "19"},
        {159, "cbSondaAtiva", "Sonda Lambda: Atividade", "Ativada", "Desativada"},
        {201, "tpsMin", "TPS mínimo", "130", "150"}};
    const QStringList choices{"Enviar a tela ao módulo", "Carregar o módulo na tela", "Manter assim"};
    QWidget parent;
    parent.show();
    WidgetPrompt p(&parent);
    QString title, heading, defaultCaption;
    QStringList headers, rows, captions;
    bool modal = false, buddy = false;
    QTimer::singleShot(0, &parent, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return;
        title = box->windowTitle();
        modal = box->isModal();
        auto *label = box->findChild<QLabel *>("lbVerificacao");
        auto *table = box->findChild<QTableWidget *>("tbDiferencas");
        if (!label || !table) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        heading = label->text();
        buddy = label->buddy() == table;
        for (int c = 0; c < table->columnCount(); ++c)
            headers << table->horizontalHeaderItem(c)->text();
        for (int r = 0; r < table->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells << table->item(r, c)->text();
            rows << cells.join(" | ");
        }
        QPushButton *target = nullptr;
        for (QPushButton *b : box->findChildren<QPushButton *>()) {
            captions << b->text();
            if (b->isDefault())
                defaultCaption = b->text();
            if (b->text() == press)
                target = b;
        }
        if (press.isEmpty()) {
            QDir pages(qEnvironmentVariable("VELTO_BUILD", QDir::currentPath()));
            pages.mkpath(QStringLiteral("pages"));
            QVERIFY(box->grab().save(pages.filePath("pages/module-check-dialog.png")));
            QTest::keyClick(box, Qt::Key_Escape);
        } else if (target) {
            target->click();
        } else {
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
    const QString text = " A tela e o módulo diferem em 3 campos:\n\nignição linha 3 coluna 6: tela 28, módulo 19\n"
                         "Sonda Lambda: Atividade: tela Ativada, módulo Desativada\nTPS mínimo: tela 130, módulo 150\n";
    const int chosen = p.differenceQuestion(text, differences, choices);
    QCOMPARE(chosen, answer);
    QCOMPARE(title, QStringLiteral("Verificar o módulo"));
    QVERIFY(modal);
    QCOMPARE(heading, QStringLiteral("A tela e o módulo diferem em 3 campos:"));
    QVERIFY(buddy);
    QCOMPARE(headers, QStringList({"Campo", "Controle", "Rótulo ou posição", "Na tela", "No módulo"}));
    QCOMPARE(rows, QStringList({"30 | e21 | ignição linha 3 coluna 6 | 28 | 19",
                                "159 | cbSondaAtiva | Sonda Lambda: Atividade | Ativada | Desativada",
                                "201 | tpsMin | TPS mínimo | 130 | 150"}));
    QCOMPARE(captions, choices);
    QCOMPARE(defaultCaption, choices.first());
}

QTEST_MAIN(TstPrompt)
#include "tst_prompt.moc"
