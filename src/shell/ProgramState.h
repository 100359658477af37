#pragma once

#include "filter/AllowList.h"
#include "filter/FilterAddress.h"
#include "shell/SettingsFile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The program-wide values: one instance, owned by the main window and shared
// with its pop-ups and the parents' windows, touched only on the UI thread.
struct ProgramState {
    QString appFolder;
    QString portalBase;
    QString userId;
    QStringList faceNames;
    qint16 currentFace = 0;
    ::AllowList allowList;
    FilterAddress::MatchScope allowScope = FilterAddress::MatchScope::Address;
    bool filterOn = false;
    QString blockedUrl;
    QString currentUrl;
    bool popupsAllowed = false;
    ParentalSettings settings; // Password, StopDisabled, TimeLimit, LimitEnd
    // When start-up read the settings and set the limit's end from the wall clock, and the
    // clock that only moves forward then: a change of the wall clock from then on is seen.
    QDateTime settingsReadAt;
    qint64 settingsReadMonotonicMs = 0;
};
