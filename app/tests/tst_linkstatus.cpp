// The link's status line under the pages, the module's state next to the unsaved flag
// on both pages, and map cells not yet sent in italic.
#include "app/form1.h"
#include "app/widgetscreen.h"
#include "core/controller.h"
#include "core/undo.h"
#include "fakes.h"
#include "files/mapfile.h"

#include <QDir>
#include <QLabel>
#include <QTabWidget>
#include <QtTest>

namespace {

QString pagesFolder()
{
    const QString build = qEnvironmentVariable("VELTO_BUILD", QDir::currentPath());
    QDir(build).mkpath(QStringLiteral("pages"));
    return QDir(build).filePath(QStringLiteral("pages"));
}

bool italic(WidgetScreen &s, const QString &cell) { return s.widget(cell)->font().italic(); }

} // namespace

class TestLinkStatus : public QObject {
    Q_OBJECT
private slots:
    void statusLineUnderThePages()
    {
        FakePrompt prompt;
        TForm1 form(&prompt, QStringList{});
        form.show();
        WidgetScreen &s = form.widgetScreen();
        auto *status = s.get<QLabel>("lbConexao");
        QCOMPARE(status->text(), QStringLiteral("Desconectado"));
        QCOMPARE(form.size(), QSize(972, 732));
        QCOMPARE(form.pages()->geometry(), QRect(0, 0, 972, 710));
        QCOMPARE(status->geometry(), QRect(8, 710, 956, 22));
        QVERIFY(status->isVisible());
        for (int page = 0; page < 2; ++page) {
            form.pages()->setCurrentIndex(page);
            QVERIFY(status->isVisible());
            const QString label = page == 0 ? "lbModulo" : "lbModulo1";
            QCOMPARE(s.get<QLabel>(label)->text(), QStringLiteral("Módulo: conteúdo desconhecido"));
            QVERIFY(s.widget(label)->isVisible());
            QVERIFY(form.grab().save(pagesFolder() + QStringLiteral("/link-status-page%1.png").arg(page + 1)));
        }
    }

    // After a completed transfer the screen equals the module; each edited field counts,
    // and each edited map cell is in italic until it is sent or undone.
    void moduleStateAndUnsentCells()
    {
        FakePrompt prompt;
        TForm1 form(&prompt, QStringList{});
        form.show();
        WidgetScreen &s = form.widgetScreen();
        Controller &c = form.controller();
        c.history().markTransferred(c.mapFile().screenTune());
        form.guarded([] {});
        QCOMPARE(s.get<QLabel>("lbModulo")->text(), QStringLiteral("Tela igual ao módulo"));
        QVERIFY(!italic(s, "e5"));

        s.setText("e5", "33");
        s.setText("e20i", "7,5");
        form.guarded([&c] { c.fieldLeft(); });
        for (const char *label : {"lbModulo", "lbModulo1"})
            QCOMPARE(s.get<QLabel>(label)->text(), QStringLiteral("Tela diferente do módulo (2 campos)"));
        QVERIFY(italic(s, "e5"));
        QVERIFY(italic(s, "e20i"));
        QVERIFY(!italic(s, "e6"));
        QVERIFY(!italic(s, "e5i"));
        form.pages()->setCurrentIndex(0);
        QVERIFY(form.grab().save(pagesFolder() + QStringLiteral("/link-unsent-cells.png")));

        form.guarded([&c] { c.undo(); });
        QCOMPARE(s.get<QLabel>("lbModulo")->text(), QStringLiteral("Tela igual ao módulo"));
        QVERIFY(!italic(s, "e5"));
        QVERIFY(!italic(s, "e20i"));
    }
};

QTEST_MAIN(TestLinkStatus)
#include "tst_linkstatus.moc"
