#include "system/BrowserNames.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstring>

QStringList defaultBrowserNames()
{
    return {QStringLiteral("firefox"),     QStringLiteral("firefox-esr"),
            QStringLiteral("chromium"),    QStringLiteral("chrome"),
            QStringLiteral("google-chrome"), QStringLiteral("opera"),
            QStringLiteral("vivaldi"),     QStringLiteral("brave"),
            QStringLiteral("epiphany"),    QStringLiteral("konqueror"),
            QStringLiteral("falkon"),      QStringLiteral("midori"),
            QStringLiteral("qutebrowser")};
}

QStringList normalizedBrowserNames(const QStringList &names)
{
    QStringList result;
    for (const QString &name : names) {
        const QString clean = name.trimmed().toLower();
        if (!clean.isEmpty() && !result.contains(clean))
            result.append(clean);
    }
    return result;
}

namespace {

// The names one file gives, normalized; empty where it names none.
QStringList namesIn(const QString &iniPath)
{
    const QFileInfo info(iniPath);
    if (iniPath.isEmpty() || !info.isFile() || !info.isReadable())
        return {};
    QSettings settings(iniPath, QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("browsers/names"));
    if (settings.status() != QSettings::NoError || !value.isValid())
        return {};
    // QSettings already splits an unquoted comma list; a quoted one arrives
    // as one string and is split here.
    QStringList raw;
    if (value.typeId() == QMetaType::QStringList) {
        for (const QString &part : value.toStringList())
            raw += part.split(QLatin1Char(','));
    } else {
        raw = value.toString().split(QLatin1Char(','));
    }
    return normalizedBrowserNames(raw);
}

} // namespace

QStringList readBrowserNames(const QStringList &iniPaths)
{
    QStringList names;
    for (const QString &path : iniPaths) {
        if (QStringList named = namesIn(path); !named.isEmpty())
            names = std::move(named);
    }
    return names.isEmpty() ? defaultBrowserNames() : names;
}

bool isProtectedProgramName(const QString &name)
{
    const QString lower = name.trimmed().toLower();
    return lower.startsWith(QLatin1String("tadpole"))
        || lower == QLatin1String("terminate")
        || lower == QLatin1String("qtwebengineprocess");
}

bool isBrowserProgramName(const QString &name, const QStringList &normalizedNames)
{
    return !isProtectedProgramName(name) && normalizedNames.contains(name.toLower());
}

BrowserNameMatcher::BrowserNameMatcher(const QStringList &normalizedNames)
    : m_names(normalizedNames)
{
    for (const QString &name : normalizedNames) {
        // An ASCII program name lower-cased stays ASCII, so only ASCII names
        // can equal it; other names are left to the decoded path.
        const bool ascii = name.size() < MaxAsciiLength
            && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
        if (!ascii || isProtectedProgramName(name))
            continue;
        m_ascii.append(name.toLatin1());
        m_asciiLengths.set(size_t(name.size()));
    }
}

bool BrowserNameMatcher::matches(QByteArrayView name) const
{
    const qsizetype length = name.size();
    const bool ascii = length < MaxAsciiLength
        && std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii)
        return isBrowserProgramName(QFile::decodeName(name.toByteArray()), m_names);
    if (length == 0 || !m_asciiLengths.test(size_t(length)))
        return false;
    char lower[MaxAsciiLength];
    for (qsizetype i = 0; i < length; ++i) {
        const char c = name[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    return std::any_of(m_ascii.cbegin(), m_ascii.cend(), [&](const QByteArray &candidate) {
        return candidate.size() == length && std::memcmp(candidate.constData(), lower, size_t(length)) == 0;
    });
}
