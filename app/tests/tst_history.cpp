#include <QtTest>
class TstHistory : public QObject { Q_OBJECT };
QTEST_MAIN(TstHistory)
#include "tst_history.moc"
