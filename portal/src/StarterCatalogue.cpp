#include "StarterCatalogue.h"

#include "Logos.h"
#include "QueryString.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

namespace {

inline constexpr char FileName[] = "starter-sites.tsv";

bool isAge(const QString &s)
{
    bool ok = false;
    const int age = s.toInt(&ok);
    return ok && age >= 0 && age <= 18 && s.size() <= 2;
}

// Why the fields of one line do not make a site, or empty when they do.
QString problemWith(const QStringList &f)
{
    if (f.size() != 5)
        return QStringLiteral("%1 fields where 5 are wanted (name, address, ages from, ages to, description), "
                              "separated by TABs").arg(f.size());
    for (const QString &field : f) {
        if (field.trimmed().isEmpty())
            return QStringLiteral("an empty field");
        if (holdsControlCharacter(field))
            return QStringLiteral("a control character");
    }
    if (f[0].size() > 200 || f[1].size() > 2048 || f[4].size() > 2000)
        return QStringLiteral("a field longer than the portal keeps");
    const QUrl url(f[1], QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        || url.host().isEmpty())
        return QStringLiteral("the address is not an http:// or https:// address: %1").arg(f[1]);
    if (!isAge(f[2]) || !isAge(f[3]) || f[2].toInt() > f[3].toInt())
        return QStringLiteral("the ages are not two numbers from 0 to 18, the first not above the second");
    return {};
}

} // namespace

std::optional<QList<SiteFields>> readStarterCatalogue(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError()) {
        *error = QStringLiteral("not UTF-8 text");
        return std::nullopt;
    }
    QList<SiteFields> sites;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        const QString problem = problemWith(fields);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
            return std::nullopt;
        }
        const QString name = fields[0].trimmed();
        sites.append({fields[1].trimmed(), name, fields[4].trimmed(), fields[2], fields[3], letterLogoName(name)});
    }
    if (sites.isEmpty()) {
        *error = QStringLiteral("it lists no site");
        return std::nullopt;
    }
    return sites;
}

QString defaultStarterCatalogue(const QString &programFolder)
{
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/../share/tadpole-portal/") + QLatin1String(FileName));
    const QString beside = programFolder + u'/' + QLatin1String(FileName);
    return QFileInfo::exists(installed) || !QFileInfo::exists(beside) ? installed : beside;
}
