#pragma once

#include "shell/Services.h"

#include <QDesktopServices>

// The desktop's own handler for an address: its default web browser.
class DesktopUrlOpener : public UrlOpener {
public:
    bool openUrl(const QUrl &url) override { return QDesktopServices::openUrl(url); }
};
