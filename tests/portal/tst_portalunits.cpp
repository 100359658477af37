#include "Logos.h"
#include "QueryString.h"
#include "ReplyCache.h"

#include <QImage>
#include <QTest>

class TestPortalUnits : public QObject {
    Q_OBJECT
private slots:
    void decodesQueryValues_data();
    void decodesQueryValues();
    void refusesInvalidUtf8();
    void logoNames_data();
    void logoNames();
    void defaultLogoIsADecodableGif();
    void letterLogoEscapesTheLetter();
    void replyCacheKeepsItsBudget_data();
    void replyCacheKeepsItsBudget();
};

void TestPortalUnits::decodesQueryValues_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plus stays a plus, not a space") << QByteArray("v=a+b") << QStringLiteral("a+b");
    QTest::newRow("encoded space, ampersand, hash, equals, percent")
        << QByteArray("v=Tom%20%26%20Jerry%27s%20Zoo%20%231%20%3D%20100%25")
        << QStringLiteral("Tom & Jerry's Zoo #1 = 100%");
    QTest::newRow("UTF-8 of non-Latin text") << QByteArray("v=%C3%96l%C3%A7%C3%BC%20%E5%AD%97") << QStringLiteral("Ölçü 字");
    QTest::newRow("a lone percent is kept as it stands") << QByteArray("v=100%") << QStringLiteral("100%");
    QTest::newRow("percent without hex digits is kept") << QByteArray("v=%G1%2") << QStringLiteral("%G1%2");
    QTest::newRow("first of two values wins") << QByteArray("v=1&v=2") << QStringLiteral("1");
    QTest::newRow("empty value is present and empty") << QByteArray("x=1&v=") << QString();
    QTest::newRow("a leading byte-order mark is part of the value") << QByteArray("v=%EF%BB%BF77")
                                                                    << QStringLiteral("\uFEFF77");
}

void TestPortalUnits::decodesQueryValues()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    QString error;
    const std::optional<QueryString> q = QueryString::parse(raw, &error);
    QVERIFY2(q, qPrintable(error));
    QVERIFY(q->contains(QStringLiteral("v")));
    QCOMPARE(q->value(QStringLiteral("v")), expected);
    QVERIFY(!q->value(QStringLiteral("v")).isNull());
}

void TestPortalUnits::refusesInvalidUtf8()
{
    QString error;
    QVERIFY(!QueryString::parse("v=%FF%FE", &error));
    QVERIFY(!QueryString::parse("v=%C3", &error));
    QVERIFY(!error.isEmpty());
}

void TestPortalUnits::logoNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("default logo") << QStringLiteral("default_logo.gif") << QByteArray("image/gif");
    QTest::newRow("letter") << QStringLiteral("Z_gif.gif") << QByteArray("image/svg+xml");
    QTest::newRow("digit") << QStringLiteral("7_gif.gif") << QByteArray("image/svg+xml");
    QTest::newRow("non-ASCII letter") << QStringLiteral("Ö_gif.gif") << QByteArray("image/svg+xml");
    QTest::newRow("character outside the BMP") << QStringLiteral("😀_gif.gif") << QByteArray("image/svg+xml");
    QTest::newRow("two letters are no letter logo") << QStringLiteral("AB_gif.gif") << QByteArray();
    QTest::newRow("traversal") << QStringLiteral("../portal.sqlite") << QByteArray();
    QTest::newRow("slash") << QStringLiteral("/_gif.gif") << QByteArray();
    QTest::newRow("backslash") << QStringLiteral("\\_gif.gif") << QByteArray();
    QTest::newRow("dot dot inside") << QStringLiteral("a..b_gif.gif") << QByteArray();
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("unknown file") << QStringLiteral("logo.png") << QByteArray();
    QTest::newRow("NUL as the letter") << QString(QChar(0)) + QStringLiteral("_gif.gif") << QByteArray();
    QTest::newRow("line feed as the letter") << QStringLiteral("\n_gif.gif") << QByteArray();
    QTest::newRow("DEL as the letter") << QStringLiteral("\x7f_gif.gif") << QByteArray();
    QTest::newRow("next line U+0085 as the letter") << QStringLiteral("\u0085_gif.gif") << QByteArray();
    QTest::newRow("line separator U+2028 as the letter") << QStringLiteral("\u2028_gif.gif") << QByteArray();
    QTest::newRow("NUL inside the default logo's name") << QStringLiteral("default_logo.gif") + QChar(0) << QByteArray();
}

void TestPortalUnits::logoNames()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contentType);
    const std::optional<LogoImage> logo = logoFor(name);
    QCOMPARE(logo.has_value(), !contentType.isEmpty());
    if (logo) {
        QCOMPARE(logo->contentType, contentType);
        QVERIFY(!logo->data.isEmpty());
    }
}

void TestPortalUnits::defaultLogoIsADecodableGif()
{
    const QImage image = QImage::fromData(defaultLogoGif(), "GIF");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(48, 48));
    QCOMPARE(image.pixel(0, 0), qRgb(0xff, 0xff, 0xff));     // the white outside the pond
    QCOMPARE(image.pixel(20, 24), qRgb(0x1e, 0x3a, 0x2a));   // the tadpole's head
    QCOMPARE(image.pixel(24, 6), qRgb(0x9f, 0xd8, 0xf5));    // water

    // Every pixel of an odd-sized image survives the encoder's code stream.
    QByteArray pixels;
    for (int i = 0; i < 7 * 5; ++i)
        pixels.append(char(i % 4));
    const QByteArray palette("\x00\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff", 12);
    const QImage small = QImage::fromData(encodeGif(7, 5, palette, pixels), "GIF");
    QCOMPARE(small.size(), QSize(7, 5));
    const QRgb colours[] = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    for (int i = 0; i < 7 * 5; ++i)
        QCOMPARE(small.pixel(i % 7, i / 7), colours[i % 4]);
}

void TestPortalUnits::letterLogoEscapesTheLetter()
{
    const QByteArray svg = letterLogoSvg(QStringLiteral("<"));
    QVERIFY(svg.contains(">&lt;</text>"));
    QVERIFY(letterLogoSvg(QStringLiteral("&")).contains(">&amp;</text>"));
    QVERIFY(letterLogoSvg(QStringLiteral("字")).contains(QStringLiteral("字").toUtf8()));
}

// Steps: "put KEY GENERATION BYTES" or "find KEY GENERATION"; then which keys the last
// generation finds. The budget is 10,000 bytes.
void TestPortalUnits::replyCacheKeepsItsBudget_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("dropped");
    QTest::newRow("replies within the budget are all kept")
        << QStringList{"put a 1 3000", "put b 1 3000", "put c 1 3000"} << QStringList{"a", "b", "c"} << QStringList{};
    QTest::newRow("beyond the budget the least recently used goes")
        << QStringList{"put a 1 3000", "put b 1 3000", "put c 1 3000", "find a 1", "put d 1 3000"}
        << QStringList{"a", "c", "d"} << QStringList{"b"};
    QTest::newRow("a reply bigger than the budget is not kept")
        << QStringList{"put a 1 3000", "put huge 1 20000"} << QStringList{"a"} << QStringList{"huge"};
    QTest::newRow("a replaced reply is counted once")
        << QStringList{"put a 1 4000", "put a 1 4000", "put a 1 4000", "put b 1 4000"} << QStringList{"a", "b"}
        << QStringList{};
    QTest::newRow("a newer generation drops every reply")
        << QStringList{"put a 1 3000", "put b 1 3000", "find a 2", "put c 2 3000"} << QStringList{"c"}
        << QStringList{"a", "b"};
    QTest::newRow("a reply of an older generation is not kept")
        << QStringList{"put a 2 3000", "put b 1 3000"} << QStringList{"a"} << QStringList{"b"};
}

void TestPortalUnits::replyCacheKeepsItsBudget()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, dropped);
    const qsizetype budget = 10000;
    ReplyCache cache(budget);
    quint64 last = 0;
    for (const QString &step : steps) {
        const QStringList w = step.split(u' ');
        const quint64 generation = w[2].toULongLong();
        last = std::max(last, generation);
        if (w[0] == QLatin1String("put"))
            cache.insert(w[1], generation, std::make_shared<const CachedReply>(CachedReply{QByteArray(w[3].toInt(), 'x'), {}}));
        else
            cache.find(w[1], generation);
        QVERIFY2(cache.bytes() <= budget, qPrintable(step));
    }
    for (const QString &key : kept)
        QVERIFY2(cache.find(key, last), qPrintable(key));
    for (const QString &key : dropped)
        QVERIFY2(!cache.find(key, last), qPrintable(key));
    QCOMPARE(cache.count(), kept.size());
}

QTEST_MAIN(TestPortalUnits)
#include "tst_portalunits.moc"
