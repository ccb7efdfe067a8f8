// The correction dialog's paths end to end: the real window with its own prompt, the
// log chosen through the real file dialog, the real boxes answered as a user answers
// them, and what reached the screen.
#include "app/correctiondialog.h"
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "datalog/logformat.h"
#include "files/mapfile.h"
#include "realdialog.h"
#include "files/mapfilecodec.h"
#include "tuning/tests/drivelog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
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
        form.pages()->setCurrentIndex(0);
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    TForm1 form;
    WidgetScreen &s = form.widgetScreen();
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    CorrectionDialog *open()
    {
        for (QPushButton *b : form.findChildren<QPushButton *>())
            if (b->text() == QString::fromUtf8("Corre&ção") && b->isVisible())
                QTest::mouseClick(b, Qt::LeftButton);
        return form.correctionDialog();
    }
    static void click(CorrectionDialog *d, const char *name)
    {
        auto *b = d->findChild<QPushButton *>(QString::fromLatin1(name));
        QVERIFY(b && b->isEnabled());
        QTest::mouseClick(b, Qt::LeftButton);
    }
    static QString label(CorrectionDialog *d, const char *name)
    {
        return d->findChild<QLabel *>(QString::fromLatin1(name))->text();
    }
};

QString pagesFolder()
{
    const QString build = qEnvironmentVariable("VELTO_BUILD", QDir::currentPath());
    QDir(build).mkpath(QStringLiteral("pages"));
    return QDir(build).filePath(QStringLiteral("pages"));
}

} // namespace

class TstCorrectionDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The log through the real file dialog, a cell changed on the screen since, the
    // real question answered "Aplicar": the suggestion reaches the screen.
    void logChosenAndAppliedThroughTheRealDialogs()
    {
        RealWindow w;
        w.write(QStringLiteral("a-mapa.txt"), w.form.controller().mapFile().screenBytes());
        const QString log = w.write(QStringLiteral("a.msl"), driveLog());
        CorrectionDialog *d = w.open();
        QVERIFY(d);
        answerFileDialog(log);
        RealWindow::click(d, "btnAbrirRegistros");
        QCOMPARE(RealWindow::label(d, "lbFonte"), QString::fromUtf8("1 registro (a.msl), relativo ao mapa a-mapa.txt."));
        QCOMPARE(RealWindow::label(d, "lbResumo"), QString::fromUtf8("204 linhas, 192 usadas; 2 células a mudar."));

        w.s.setText(QStringLiteral("e17i"), QStringLiteral("4,1"));
        QString text;
        QStringList buttons;
        answerBox(QStringLiteral("Aplicar"), &text, &buttons);
        RealWindow::click(d, "btnAplicarTodas");
        QCOMPARE(text, QString::fromUtf8("1 das 2 células a aplicar mudaram na tela desde que o registro foi gravado; "
                                         "a sugestão substitui o que está nelas. Aplicar assim mesmo?"));
        QCOMPARE(buttons, (QStringList{QStringLiteral("Aplicar"), QStringLiteral("Cancelar")}));
        QCOMPARE(w.s.text(QStringLiteral("e17i")), QStringLiteral("4,2"));
        QCOMPARE(w.s.text(QStringLiteral("e40i")), QStringLiteral("2,3"));
        QCOMPARE(RealWindow::label(d, "lbAplicadas"), QString::fromUtf8("2 célula(s) aplicada(s) ao mapa da tela."));
    }

    // In the percent view, a cell changed on the screen since the log: the real question
    // answered "Cancelar" leaves the map in percent as it was, with no step to undo.
    void declinedInThePercentViewLeavesThePercentMap()
    {
        RealWindow w;
        w.write(QStringLiteral("a-mapa.txt"), w.form.controller().mapFile().screenBytes());
        const QString log = w.write(QStringLiteral("a.msl"), driveLog());
        CorrectionDialog *d = w.open();
        answerFileDialog(log);
        RealWindow::click(d, "btnAbrirRegistros");
        Controller &c = w.form.controller();
        c.btnAlterarMapasClick();
        c.btnPercentualClick();
        w.s.setText(QStringLiteral("e17i"), QStringLiteral("20,0"));
        c.history().record();
        const int steps = c.history().count(), at = c.history().index();
        const QString cell0 = w.s.text(QStringLiteral("e0i"));
        QString text;
        QStringList buttons;
        answerBox(QStringLiteral("Cancelar"), &text, &buttons);
        RealWindow::click(d, "btnAplicarTodas");
        QCOMPARE(text, QString::fromUtf8("1 das 2 células a aplicar mudaram na tela desde que o registro foi gravado; "
                                         "a sugestão substitui o que está nelas. Aplicar assim mesmo?"));
        QVERIFY(c.context().state.percentView);
        QCOMPARE(w.s.text(QStringLiteral("e17i")), QStringLiteral("20,0"));
        QCOMPARE(w.s.text(QStringLiteral("e0i")), cell0);
        QCOMPARE(c.history().count(), steps);
        QCOMPARE(c.history().index(), at);
    }

    // Beside the log the map of the round before: the real box names both files and
    // nothing is opened.
    void snapshotThatDoesNotExplainTheLogRefused()
    {
        RealWindow w;
        Tune before = w.form.controller().mapFile().screenTune();
        before.texts[80 + 17] = QStringLiteral("3,8");
        before.texts[80 + 40] = QStringLiteral("2,6");
        w.write(QStringLiteral("c-mapa.txt"), mapfile::encodeLine(before.fields()));
        const QString log = w.write(QStringLiteral("c.msl"), driveLog());
        CorrectionDialog *d = w.open();
        QString text;
        QStringList buttons;
        answerFileDialog(log);
        answerBox(QStringLiteral("OK"), &text, &buttons);
        RealWindow::click(d, "btnAbrirRegistros");
        QCOMPARE(text, QString::fromUtf8("O mapa de injeção de %1 não explica o Ti do registro %2 (erro mediano de 5,3 "
                                         "%, acima de 1,5 %): o registro foi gravado com outro mapa, e a correção não "
                                         "vale para esse. Nada a sugerir.")
                           .arg(w.dir.filePath(QStringLiteral("c-mapa.txt")), log));
        QCOMPARE(RealWindow::label(d, "lbFonte"), QString::fromUtf8("Nenhum registro aberto."));
    }

    // A log without its map beside it: the real box says so in Portuguese, naming both
    // files; nothing is opened.
    void missingSnapshotRefusedInPortuguese()
    {
        RealWindow w;
        const QString log = w.write(QStringLiteral("b.msl"), driveLog());
        CorrectionDialog *d = w.open();
        QString text;
        QStringList buttons;
        answerFileDialog(log);
        answerBox(QStringLiteral("OK"), &text, &buttons);
        RealWindow::click(d, "btnAbrirRegistros");
        QCOMPARE(text, QString::fromUtf8("O mapa do registro %1, %2 não pôde ser lido: o arquivo não existe. Nada a "
                                         "sugerir.")
                           .arg(log, w.dir.filePath(QStringLiteral("b-mapa.txt"))));
        QVERIFY(!text.contains(QStringLiteral("File not found")));
        QCOMPARE(RealWindow::label(d, "lbFonte"), QString::fromUtf8("Nenhum registro aberto."));
    }

    // A cold start through the real file dialog: the page " Aquecimento " shows the
    // curve's points, applied to the screen's "Correção Ti" with its button.
    void warmUpPageThroughTheRealDialog()
    {
        RealWindow w;
        w.write(QStringLiteral("frio-mapa.txt"), w.form.controller().mapFile().screenBytes());
        QByteArray cold = logformat::header(QStringLiteral("2.2"), QStringLiteral("2026-01-01T10:00:00"));
        const int curve[8] = {55, 40, 30, 20, 12, 5, 0, 0};
        std::int64_t ms = 0;
        for (int temp = 25; temp <= 95; ++temp)
            for (int i = 0; i < 50; ++i, ms += 100) {
                const int x = std::min(temp / 15, 6);
                const int ct = curve[x] + (curve[x + 1] - curve[x]) * (temp - 15 * x) / 15;
                logformat::Row r = driveRow(ms, 14, 9, temp >= 40 && temp < 50 ? 3 : 0, 0, temp);
                r.values.correctionTemperature = ct;
                setStartupTi(r.values);
                cold += logformat::row(r.ms, r.values);
            }
        const QString log = w.write(QStringLiteral("frio.msl"), cold);
        CorrectionDialog *d = w.open();
        answerFileDialog(log);
        RealWindow::click(d, "btnAbrirRegistros");
        auto *pages = d->findChild<QTabWidget *>(QStringLiteral("tabCorrecao"));
        QVERIFY(pages);
        QCOMPARE(pages->tabText(1), QString::fromUtf8(" Aquecimento "));
        pages->setCurrentIndex(1);
        QTableWidget *t = d->warmUpTable();
        QCOMPARE(t->item(1, 0)->text(), QString::fromUtf8("sem malha fechada"));
        QCOMPARE(t->item(0, 3)->text(), QStringLiteral("20"));
        const QString at45 = t->item(1, 3)->text();
        QVERIFY2(at45.toInt() > 20, qPrintable(at45));
        d->resize(d->sizeHint());
        QVERIFY(d->grab().save(pagesFolder() + QStringLiteral("/correcao-aquecimento.png")));

        RealWindow::click(d, "btnAplicarAquecimento");
        QCOMPARE(w.s.text(QStringLiteral("eCorrecaoTi45")), at45);
        QCOMPARE(w.s.text(QStringLiteral("eCorrecaoTi0")), QStringLiteral("55"));
        QVERIFY(RealWindow::label(d, "lbAplicadas").contains(QString::fromUtf8("curva de aquecimento")));
    }
};

QTEST_MAIN(TstCorrectionDialogs)
#include "tst_correctiondialogs.moc"
