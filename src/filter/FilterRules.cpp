#include "filter/FilterRules.h"

namespace FilterRules {

namespace {
constexpr qsizetype StatusAddressLength = 50;
}

QString shownAddress(const QString &address, const QString &userId)
{
    return userId.isEmpty() ? address : QString(address).replace(userId, QStringLiteral("..."));
}

QString blockedStatusText(const QString &address)
{
    return QStringLiteral("Blocked: ") + address.left(StatusAddressLength);
}

QString popupAllowedStatusText(const QString &address)
{
    return address.left(StatusAddressLength);
}

bool isBlockedStatus(const QString &statbarCaption)
{
    return statbarCaption.startsWith(QLatin1String("Blocked:"), Qt::CaseSensitive);
}

ProgressState progressFor(qint32 progress, qint32 progressMax, ProgressState previous)
{
    ProgressState state = previous;
    if (progressMax < 1) {
        state.value = 0.0f;
        state.visible = false;
        return state;
    }
    state.maximum = float(progressMax);
    if (progress < 1 || progress > progressMax) {
        state.visible = false;
        state.value = 0.0f;
    } else {
        state.value = float(progress);
        state.visible = true;
    }
    return state;
}

bool isSpecialSite(const QString &caption, const QStringList &specialDomainsUpper)
{
    for (const QString &domain : specialDomainsUpper) {
        if (!domain.isEmpty() && caption == domain)
            return true;
    }
    return false;
}

} // namespace FilterRules
