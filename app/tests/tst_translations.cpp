// Qt's own texts speak Portuguese once the program has installed Qt's translation: the
// file dialogs the map file and the datalog open, and the standard buttons.
#include "app/translations.h"
#include "app/widgetprompt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QRegularExpression>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TstTranslations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileDialog_data();
    void fileDialog();
    void standardButtons();
    void fileListInPortuguese();
};

void TstTranslations::initTestCase()
{
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    QVERIFY(installQtTranslations(*QCoreApplication::instance()));
}

void TstTranslations::fileDialog_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QStringList>("texts"); // buttons, then labels
    const QStringList labels = {"Procurar em:", "&Nome do arquivo:", "Arquivos do tipo:"};
    QTest::newRow("save") << true << QStringList{"&Salvar", "Cancelar"} + labels;
    QTest::newRow("open") << false << QStringList{"&Abrir", "Cancelar"} + labels;
}

void TstTranslations::fileDialog()
{
    QFETCH(bool, save);
    QFETCH(QStringList, texts);
    QTemporaryDir dir;
    const FileDialogSpec setup{"Arquivos Compatíveis (.txt)|*.txt|Todos os arquivos|*.*", "*.txt", dir.path(), {}};
    auto d = prompt::fileDialog(nullptr, setup, save);
    d->show();
    QStringList shown;
    for (const QAbstractButton *b : d->findChild<QDialogButtonBox *>()->buttons())
        shown << b->text();
    for (const QLabel *l : d->findChildren<QLabel *>())
        if (!l->text().isEmpty())
            shown << l->text();
    d->hide();
    QCOMPARE(shown, texts);
}

void TstTranslations::standardButtons()
{
    QMessageBox box(QMessageBox::NoIcon, "t", "x", QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes |
                                                      QMessageBox::No | QMessageBox::Save | QMessageBox::Close);
    QStringList shown;
    for (QAbstractButton *b : box.buttons())
        shown << b->text();
    shown.sort();
    QCOMPARE(shown, QStringList({QString::fromUtf8("&Não"), "&Sim", "Cancelar", "Fechar", "OK", "Salvar"}));
}

// The file list of the dialog: a folder's kind and the dates in Brazilian Portuguese.
void TstTranslations::fileListInPortuguese()
{
    QCOMPARE(QLocale(), QLocale(QLocale::Portuguese, QLocale::Brazil));
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("mapas"));
    const FileDialogSpec setup{"Todos os arquivos|*.*", "*.txt", dir.path(), {}};
    auto d = prompt::fileDialog(nullptr, setup, false);
    d->show();
    auto *model = d->findChild<QFileSystemModel *>();
    QVERIFY(model);
    QModelIndex folder;
    QTRY_VERIFY((folder = model->index(dir.filePath("mapas"))).isValid() && model->rowCount(folder.parent()) == 1);
    QCOMPARE(model->type(folder), QStringLiteral("Pasta"));
    const QString date = model->index(folder.row(), 3, folder.parent()).data().toString();
    QVERIFY2(QRegularExpression("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d$").match(date).hasMatch(), qPrintable(date));
    d->hide();
}

// The program sets its locale before the application object, as main does.
int main(int argc, char *argv[])
{
    usePortugueseLocale();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TstTranslations test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_translations.moc"
