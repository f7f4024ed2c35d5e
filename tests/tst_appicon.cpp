// Checks the shipped application icon (qml/app_icon.ico, made by scripts/make-icon.py):
// the ICO directory and image headers are parsed here byte by byte, so a broken file
// is caught even where Qt's own ico reader would be lenient; then Qt reads it as well.

#include <QtEndian>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <vector>

#ifndef APP_ICON_PATH
#error "APP_ICON_PATH must name qml/app_icon.ico in the source tree"
#endif

namespace {

struct IconEntry
{
    int width = 0;   // 256 when the directory byte is 0
    int height = 0;
    int colorCount = 0;
    int reserved = 0;
    int planes = 0;
    int bitCount = 0;
    quint32 bytes = 0;
    quint32 offset = 0;
};

quint16 le16(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 le32(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

const QSet<int> kExpectedSizes {16, 24, 32, 48, 64, 72, 96, 128, 256};
const int kExpectedCount = 9;
const int kDirectoryEntrySize = 16;
const int kIconDirSize = 6;

} // namespace

class TestAppIcon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void header();
    void sizes();
    void entry_data();
    void entry();
    void entriesInsideFileWithoutOverlap();
    void qtReadsEveryImage();
    void qiconLoads();

private:
    const IconEntry *findEntry(int size) const;
    QByteArray entryData(const IconEntry &e) const;

    QByteArray m_data;
    std::vector<IconEntry> m_entries;
};

void TestAppIcon::initTestCase()
{
    QFile file(QStringLiteral(APP_ICON_PATH));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString() + ": " + file.fileName()));
    m_data = file.readAll();
    QVERIFY2(m_data.size() >= kIconDirSize, "file shorter than the ICONDIR header");

    const int count = le16(m_data, 4);
    QVERIFY2(m_data.size() >= kIconDirSize + qsizetype(count) * kDirectoryEntrySize,
             "file shorter than its own directory");
    for (int i = 0; i < count; ++i) {
        const qsizetype at = kIconDirSize + qsizetype(i) * kDirectoryEntrySize;
        IconEntry e;
        e.width = quint8(m_data[at]) == 0 ? 256 : quint8(m_data[at]);
        e.height = quint8(m_data[at + 1]) == 0 ? 256 : quint8(m_data[at + 1]);
        e.colorCount = quint8(m_data[at + 2]);
        e.reserved = quint8(m_data[at + 3]);
        e.planes = le16(m_data, at + 4);
        e.bitCount = le16(m_data, at + 6);
        e.bytes = le32(m_data, at + 8);
        e.offset = le32(m_data, at + 12);
        m_entries.push_back(e);
    }
}

const IconEntry *TestAppIcon::findEntry(int size) const
{
    const IconEntry *found = nullptr;
    for (const IconEntry &e : m_entries) {
        if (e.width == size) {
            if (found)
                return nullptr; // duplicates are reported by sizes()
            found = &e;
        }
    }
    return found;
}

QByteArray TestAppIcon::entryData(const IconEntry &e) const
{
    if (quint64(e.offset) + e.bytes > quint64(m_data.size()))
        return {};
    return m_data.mid(e.offset, e.bytes);
}

void TestAppIcon::header()
{
    QCOMPARE(le16(m_data, 0), quint16(0)); // reserved
    QCOMPARE(le16(m_data, 2), quint16(1)); // 1 = icon, 2 = cursor
    QCOMPARE(int(m_entries.size()), kExpectedCount);
}

void TestAppIcon::sizes()
{
    QList<int> found;
    for (const IconEntry &e : m_entries) {
        QCOMPARE(e.height, e.width); // square
        found.append(e.width);
    }
    std::sort(found.begin(), found.end());
    QList<int> expected(kExpectedSizes.cbegin(), kExpectedSizes.cend());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(found, expected); // also catches a size listed twice
}

void TestAppIcon::entry_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("png");

    for (int size : {16, 24, 32, 48, 64, 72, 96, 128})
        QTest::addRow("%d px BMP", size) << size << false;
    // Windows wants the largest image compressed; BMP at 256 px would be 256 KiB.
    QTest::addRow("256 px PNG") << 256 << true;
}

void TestAppIcon::entry()
{
    QFETCH(int, size);
    QFETCH(bool, png);

    const IconEntry *e = findEntry(size);
    QVERIFY2(e, "no single directory entry of this size");
    QCOMPARE(e->planes, 1);
    QCOMPARE(e->bitCount, 32);
    QCOMPARE(e->colorCount, 0); // no palette for 32 bpp
    QCOMPARE(e->reserved, 0);

    const QByteArray data = entryData(*e);
    QVERIFY2(!data.isEmpty(), "image data lies outside the file");

    if (png) {
        static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
        QVERIFY(data.startsWith(signature));
        // The first chunk must be IHDR, whose width and height are big-endian.
        QVERIFY(data.size() >= 8 + 8 + 13);
        QCOMPARE(data.mid(12, 4), QByteArray("IHDR"));
        QCOMPARE(qFromBigEndian<quint32>(data.constData() + 16), quint32(size));
        QCOMPARE(qFromBigEndian<quint32>(data.constData() + 20), quint32(size));
        return;
    }

    QVERIFY(data.size() >= 40);
    QCOMPARE(le32(data, 0), quint32(40));                  // biSize: BITMAPINFOHEADER
    QCOMPARE(qint32(le32(data, 4)), qint32(size));         // biWidth
    QCOMPARE(qint32(le32(data, 8)), qint32(2 * size));     // biHeight: colour + AND mask
    QCOMPARE(le16(data, 12), quint16(1));                  // biPlanes
    QCOMPARE(le16(data, 14), quint16(32));                 // biBitCount
    QCOMPARE(le32(data, 16), quint32(0));                  // biCompression: BI_RGB
    QCOMPARE(le32(data, 32), quint32(0));                  // biClrUsed: no palette

    // BGRA pixels, then a 1-bpp mask whose rows are padded to 32 bits.
    const qsizetype maskStride = (size + 31) / 32 * 4;
    const qsizetype expectedBytes = 40 + qsizetype(size) * size * 4 + maskStride * size;
    QCOMPARE(qsizetype(e->bytes), expectedBytes);
}

void TestAppIcon::entriesInsideFileWithoutOverlap()
{
    std::vector<IconEntry> sorted = m_entries;
    QVERIFY(!sorted.empty());
    std::sort(sorted.begin(), sorted.end(),
              [](const IconEntry &a, const IconEntry &b) { return a.offset < b.offset; });

    quint64 end = kIconDirSize + quint64(m_entries.size()) * kDirectoryEntrySize;
    for (const IconEntry &e : sorted) {
        const QByteArray where = QByteArray::number(e.width) + " px entry at "
                + QByteArray::number(e.offset);
        QVERIFY2(e.bytes > 0, where.constData());
        QVERIFY2(e.offset >= end, (where + " overlaps the directory or the previous image").constData());
        end = quint64(e.offset) + e.bytes;
        QVERIFY2(end <= quint64(m_data.size()), (where + " runs past the end of the file").constData());
    }
}

void TestAppIcon::qtReadsEveryImage()
{
    if (!QImageReader::supportedImageFormats().contains("ico"))
        QSKIP("this Qt has no ico image plugin");

    QImageReader reader(QStringLiteral(APP_ICON_PATH), "ico");
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.imageCount(), kExpectedCount);

    QSet<int> sizes;
    QImage small;
    for (int i = 0; i < kExpectedCount; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(QString::number(i) + ": " + reader.errorString()));
        QCOMPARE(image.width(), image.height());
        sizes.insert(image.width());
        if (image.width() == 16)
            small = image;
    }
    QCOMPARE(sizes, kExpectedSizes);

    QVERIFY(!small.isNull());
    QVERIFY(small.hasAlphaChannel());
    const QImage argb = small.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            opaque += qAlpha(argb.pixel(x, y)) == 255;
    QVERIFY2(opaque > 0, "16 px image is fully transparent");
}

void TestAppIcon::qiconLoads()
{
    if (!QImageReader::supportedImageFormats().contains("ico"))
        QSKIP("this Qt has no ico image plugin");

    // QIcon is what the window and taskbar use: it must see every size, so the
    // platform picks a drawn image instead of scaling another one.
    const QIcon icon(QStringLiteral(APP_ICON_PATH));
    QVERIFY(!icon.isNull());
    QSet<int> sizes;
    for (const QSize &s : icon.availableSizes()) {
        QCOMPARE(s.width(), s.height());
        sizes.insert(s.width());
    }
    QCOMPARE(sizes, kExpectedSizes);
    const QPixmap pixmap = icon.pixmap(QSize(16, 16));
    QCOMPARE(pixmap.size(), QSize(16, 16));
}

QTEST_MAIN(TestAppIcon)
#include "tst_appicon.moc"
