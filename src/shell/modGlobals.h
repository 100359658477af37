#pragma once

#include "filter/AllowList.h"
#include "filter/FilterAddress.h"
#include "shell/SettingsFile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The program-wide values: one instance, owned by the main window and shared
// with its pop-ups and the parents' windows, touched only on the UI thread.
struct modGlobals {
    QString AppFolder;
    QString PortalBase;
    QString UserId;
    QStringList FaceNames;
    qint16 CurrentFace = 0;
    ::AllowList AllowList;
    FilterAddress::MatchScope AllowScope = FilterAddress::MatchScope::Address;
    bool FilterOn = false;
    QString BlockedUrl;
    QString CurrentUrl;
    bool PopupsAllowed = false;
    ParentalSettings settings; // Password, StopDisabled, TimeLimit, LimitEnd
    bool PasswordAccepted = false;
    qint32 EditSiteID = 0;
    QString NewSiteType;
};
