// The program without a display says so on one line and ends with code 2.
#include <QProcess>
#include <QtTest>

class TstMain : public QObject
{
    Q_OBJECT
private slots:
    void noDisplay();
};

void TstMain::noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    QProcess velto;
    velto.setProcessEnvironment(env);
    velto.start(QStringLiteral(VELTO_EXE), QStringList());
    QVERIFY(velto.waitForFinished(20000));
    QCOMPARE(velto.exitStatus(), QProcess::NormalExit);
    QCOMPARE(velto.exitCode(), 2);
    QCOMPARE(velto.readAllStandardError(),
             QByteArray("velto: no display available: set DISPLAY or QT_QPA_PLATFORM=offscreen\n"));
    QCOMPARE(velto.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TstMain)
#include "tst_main.moc"
