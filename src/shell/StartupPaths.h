#pragma once

#include "shell/AppConfig.h"

#include <QString>

// The program folder: the executable's own folder when its path holds
// "TADPOLE" in any case, otherwise the per-user data folder.
QString AppFolderFor(const QString &executableFolder, const QString &defaultFolder);
QString defaultAppFolder(); // $XDG_DATA_HOME/tadpole/, created when missing

enum class PortalChoice { Public, Loopback, Lan };

// The command-line text is compared as a whole with "1" and "2".
PortalChoice portalChoiceFor(const QString &commandLine);
QString PortalBaseFor(PortalChoice choice, const AppConfig &config);
// A configured portal as scheme and authority: "https://…" and "http://…" as
// they stand (without a closing "/"), anything else is a host spoken to over http.
QString portalOrigin(const QString &configured);

// Entry 2 of the allow list: the portal host in use, without "www.", or every
// menu page after start-up would be blocked by the program's own filter. A
// configured public entry replaces it for the public portal.
QString portalAllowEntry(PortalChoice choice, const AppConfig &config);

// The helper that ends other web browsers: "terminate" in the program folder
// when it is there (a development build), else the installed one in
// libexec/tadpole/ beside the running program's bin/. Empty when neither exists.
QString terminateProgram(const QString &appFolder, const QString &executableFolder);
