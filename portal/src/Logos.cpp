#include "Logos.h"

#include "QueryString.h"

#include <QStringList>

namespace {

class BitWriter {
public:
    void put(int code, int bits)
    {
        m_acc |= quint32(code) << m_count;
        m_count += bits;
        while (m_count >= 8) {
            m_bytes.append(char(m_acc & 0xff));
            m_acc >>= 8;
            m_count -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_count > 0)
            m_bytes.append(char(m_acc & 0xff));
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    quint32 m_acc = 0;
    int m_count = 0;
};

QByteArray xmlEscape(const QString &s)
{
    return s.toHtmlEscaped().toUtf8();
}

} // namespace

QByteArray encodeGif(int width, int height, const QByteArray &palette, const QByteArray &pixels)
{
    QByteArray gif("GIF89a");
    auto le16 = [&gif](int v) {
        gif.append(char(v & 0xff));
        gif.append(char((v >> 8) & 0xff));
    };
    le16(width);
    le16(height);
    gif.append(char(0x80 | 0x01));  // global colour table of 4 entries
    gif.append(char(0));
    gif.append(char(0));
    gif.append(palette.left(12).leftJustified(12, char(0)));
    gif.append(",");
    le16(0);
    le16(0);
    le16(width);
    le16(height);
    gif.append(char(0));

    // Minimum code size 2: clear = 4, end = 5, codes 3 bits wide. Sending a clear code
    // after every two literals keeps the decoder's table from growing, so the code width
    // never changes and no string table is needed here.
    const int minCodeSize = 2;
    const int clear = 1 << minCodeSize;
    BitWriter bits;
    for (qsizetype i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0)
            bits.put(clear, minCodeSize + 1);
        bits.put(uchar(pixels[i]) & 3, minCodeSize + 1);
    }
    bits.put(clear + 1, minCodeSize + 1);
    const QByteArray data = bits.finish();

    gif.append(char(minCodeSize));
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const QByteArray block = data.mid(i, 255);
        gif.append(char(block.size()));
        gif.append(block);
    }
    gif.append(char(0));
    gif.append(";");
    return gif;
}

QByteArray defaultLogoGif()
{
    // A green pond with a dark tadpole in it, on white.
    const int size = 48;
    const QByteArray palette("\xff\xff\xff" "\x3c\xb3\x71" "\x1e\x3a\x2a" "\x9f\xd8\xf5", 12);
    QByteArray pixels(size * size, char(0));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int dx = x - 24, dy = y - 24;
            char index = 0;
            if (dx * dx + dy * dy <= 22 * 22)
                index = 3;
            const int hx = x - 20, hy = y - 24;
            if (hx * hx + hy * hy <= 7 * 7)
                index = 2;
            if (x > 24 && x < 38 && std::abs(y - 24 - ((x / 3) % 3 - 1)) <= 1)
                index = 2;
            if (dx * dx + dy * dy > 22 * 22 && dx * dx + dy * dy <= 23 * 23)
                index = 1;
            pixels[y * size + x] = index;
        }
    }
    return encodeGif(size, size, palette, pixels);
}

QByteArray letterLogoSvg(const QString &letter)
{
    static const char *colours[] = {"#3cb371", "#1e90ff", "#ff8c00", "#ba55d3", "#e9967a", "#20b2aa"};
    uint sum = 0;
    for (QChar ch : letter)
        sum = sum * 31 + ch.unicode();
    return QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">"
                      "<rect width=\"64\" height=\"64\" rx=\"12\" fill=\"")
           + colours[sum % 6]
           + "\"/><text x=\"32\" y=\"45\" font-family=\"sans-serif\" font-size=\"40\" font-weight=\"bold\" "
             "text-anchor=\"middle\" fill=\"#ffffff\">"
           + xmlEscape(letter) + "</text></svg>";
}

std::optional<LogoImage> logoFor(const QString &name)
{
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name.contains(QLatin1String(".."))
        || holdsControlCharacter(name))
        return std::nullopt;
    if (name == QLatin1String("default_logo.gif"))
        return LogoImage{"image/gif", defaultLogoGif()};
    static const QString suffix = QStringLiteral("_gif.gif");
    if (name.endsWith(suffix) && name.size() > suffix.size()) {
        const QString stem = name.left(name.size() - suffix.size());
        // One character, counting a surrogate pair as one.
        const qsizetype first = stem.at(0).isHighSurrogate() && stem.size() > 1 ? 2 : 1;
        if (stem.size() == first)
            return LogoImage{"image/svg+xml", letterLogoSvg(stem)};
    }
    return std::nullopt;
}

QString letterLogoName(const QString &siteName)
{
    const QString first = siteName.left(siteName.size() > 1 && siteName.at(0).isHighSurrogate() ? 2 : 1);
    const QString upper = first.toUpper(); // "ß" becomes "SS", which is no letter logo
    const QString name = (upper.size() == first.size() ? upper : first) + QStringLiteral("_gif.gif");
    return logoFor(name) ? name : QStringLiteral("default_logo.gif");
}
