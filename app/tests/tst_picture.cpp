// The picture made at build time, its decoding with libjpeg, and a window that goes on
// without it when the file is missing or damaged.
#include "app/form1.h"
#include "app/layout.h"
#include "app/picture.h"
#include "app/widgetscreen.h"
#include "fakes.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
QByteArray pictureBytes()
{
    QFile f(QStringLiteral(VELTO_PICTURE_FILE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TstPicture : public QObject
{
    Q_OBJECT
private slots:
    void builtPicture();
    void builtIcon();
    void themeIcons_data();
    void themeIcons();
    void damagedFiles_data();
    void damagedFiles();
    void missingFile();
    void windowShowsThePictureFourTimes();
    void windowGoesOnWithoutThePicture_data();
    void windowGoesOnWithoutThePicture();
};

void TstPicture::builtPicture()
{
    const QImage image = picture::loadJpeg(QStringLiteral(VELTO_PICTURE_FILE));
    QCOMPARE(image.size(), QSize(276, 104));
    QCOMPARE(QColor(image.pixel(2, 2)), QColor(Qt::white).toRgb()); // a clean background
    // Not blank: the name is drawn in a dark colour.
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100)
                ++dark;
    QVERIFY(dark > 500);
}

void TstPicture::builtIcon()
{
    const QImage icon(QStringLiteral(VELTO_ICON_FILE), "PNG");
    QCOMPARE(icon.size(), QSize(64, 64));
}

// The icon at every size of the hicolor theme, the same drawing at each.
void TstPicture::themeIcons_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

void TstPicture::themeIcons()
{
    QFETCH(int, size);
    const QString path = QStringLiteral(VELTO_ICON_THEME "/%1x%1/apps/" VELTO_APP_ID ".png").arg(size);
    const QImage icon(path, "PNG");
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    // Transparent corners around a dark square.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(QColor(icon.pixel(size / 8, size / 2)), QColor(16, 40, 96));
    if (size == 64) {
        const QImage same(QStringLiteral(VELTO_ICON_FILE), "PNG");
        QCOMPARE(icon.convertToFormat(QImage::Format_ARGB32), same.convertToFormat(QImage::Format_ARGB32));
    }
}

void TstPicture::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = pictureBytes();
    QVERIFY(good.size() > 200);
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("text") << QByteArray("not a picture at all\n");
    QTest::newRow("start of image, then noise")
        << QByteArray::fromHex("ffd8ffe000104a464946") + QByteArray(300, '\x5a');
    QTest::newRow("header only") << good.left(100);
    QByteArray noisyHeader = good;
    for (int i = 2; i < 160; ++i)
        noisyHeader[i] = char(0xff - i);
    QTest::newRow("damaged tables") << noisyHeader;
    QTest::newRow("a PNG") << QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
}

void TstPicture::damagedFiles()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(picture::decodeJpeg(bytes).isNull());
    QTemporaryDir dir;
    QFile f(dir.filePath("velto.jpg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QVERIFY(picture::loadJpeg(f.fileName()).isNull());
}

void TstPicture::missingFile()
{
    QVERIFY(picture::loadJpeg(QStringLiteral("/nonexistent/velto.jpg")).isNull());
    // The file beside the program is the first place looked at.
    QCOMPARE(picture::searchPaths().first(), QCoreApplication::applicationDirPath() + "/velto.jpg");
    QCOMPARE(picture::findPicture(), QCoreApplication::applicationDirPath() + "/velto.jpg");
}

void TstPicture::windowShowsThePictureFourTimes()
{
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    for (const QString &box : layout::pictureBoxes()) {
        auto *label = form.widgetScreen().get<QLabel>(box);
        QCOMPARE(label->pixmap().size(), QSize(276, 104));
        QCOMPARE(label->size(), QSize(276, 104)); // shown unscaled
    }
    QCOMPARE(prompt.messages, QStringList());
}

void TstPicture::windowGoesOnWithoutThePicture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("damaged") << QByteArray::fromHex("ffd8ffdb") + QByteArray(64, '\x01');
    QTest::newRow("empty") << QByteArray();
}

void TstPicture::windowGoesOnWithoutThePicture()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    QFile f(dir.filePath("velto.jpg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    FakePrompt prompt;
    TForm1 form(&prompt, QStringList{});
    form.show();
    form.loadPicture(f.fileName());
    for (const QString &box : layout::pictureBoxes())
        QVERIFY(form.widgetScreen().get<QLabel>(box)->pixmap().isNull());
    form.loadPicture(QStringLiteral("/nonexistent/velto.jpg"));
    for (const QString &box : layout::pictureBoxes())
        QVERIFY(form.widgetScreen().get<QLabel>(box)->pixmap().isNull());
    // The window still works: the map edit mode opens.
    form.widgetScreen().get<QPushButton>("btnAlterarMapas")->click();
    QVERIFY(form.widgetScreen().isVisible("GroupBox10"));
    QCOMPARE(prompt.messages, QStringList());
}

QTEST_MAIN(TstPicture)
#include "tst_picture.moc"
