#include "app/form1.h"
#include "app/widgetscreen.h"
#include "fakes.h"

#include <QDir>
#include <QTabWidget>
#include <QtTest>

class TestCorrectionWindow : public QObject {
    Q_OBJECT
private slots:
    void grab()
    {
        FakePrompt prompt;
        TForm1 form(&prompt, QStringList{});
        form.show();
        form.pages()->setCurrentIndex(0);
        QVERIFY(form.grab().save(QStringLiteral("/tmp/suggest-mappage.png")));
    }
};

QTEST_MAIN(TestCorrectionWindow)
#include "tst_correctionwindow.moc"
