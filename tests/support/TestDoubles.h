#pragma once

#include "support/FakeBrowserView.h"
#include "browsing/BrowserServices.h"
#include "parents/ParentsContext.h"
#include "shell/ProgramState.h"
#include "shell/PortalClient.h"
#include "shell/Services.h"
#include "system/ProgramLauncher.h"

#include <QHash>
#include <QStringList>
#include <functional>

// Scripted stand-ins for what the windows take from outside.

class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime at = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0))) : at(std::move(at)) {}
    QDateTime now() const override { return at; }
    qint64 monotonicMs() const override { return monotonic; }
    // Moves both clocks on, as time passing does; a changed wall clock moves `at` alone.
    void pass(qint64 ms) { at = at.addMSecs(ms); monotonic += ms; }
    QDateTime at;
    qint64 monotonic = 0;
};

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        QString text;
        QString title;
    };
    void message(const QString &text, const QString &title) override { messages.append({text, title}); }
    Answer askYesNo(const QString &text, const QString &title, Answer defaultAnswer) override
    {
        questions.append({text, title});
        defaults.append(defaultAnswer);
        if (onQuestion)
            onQuestion();
        return answers.isEmpty() ? Answer::No : answers.takeFirst();
    }
    QString input(const QString &prompt, const QString &title, const QString &) override
    {
        questions.append({prompt, title});
        return inputs.isEmpty() ? QString() : inputs.takeFirst();
    }
    QList<Shown> messages;
    QList<Shown> questions;
    QList<Answer> answers;
    QList<Answer> defaults; // each question's default answer, in order
    QStringList inputs;
    std::function<void()> onQuestion; // runs while the question is open
};

// Answers by page name (the address between portalBase and "?"); anything else fails as a refused connection would.
class ScriptedTransport : public PortalTransport {
public:
    FetchResult fetch(const QString &address) override
    {
        requests << address;
        if (onFetch)
            onFetch(address);
        const QString page = address.section(QLatin1Char('/'), -1).section(QLatin1Char('?'), 0, 0);
        if (replies.contains(page))
            return replies.value(page);
        return FetchResult::failure(QStringLiteral("Connection refused"));
    }
    QHash<QString, FetchResult> replies;
    QStringList requests;
    std::function<void(const QString &address)> onFetch; // runs as each request goes out
};

class RecordingLauncher : public ProgramLauncher {
public:
    bool start(const QString &program, QString *error) override
    {
        started << program;
        if (fail && error)
            *error = QStringLiteral("The program %1 could not be started.").arg(program);
        return !fail;
    }
    QStringList started;
    bool fail = false;
};

// The parents' windows as the main window sees them: each opening recorded, the gate answering from a script (true: passed).
class ScriptedParentsWindows : public ParentsWindows {
public:
    bool showGate(const ParentsContext &context) override
    {
        shown << QStringLiteral("gate");
        const bool accepted = gateAnswers.isEmpty() ? false : gateAnswers.takeFirst();
        if (accepted)
            context.main->gatePassed();
        return accepted;
    }
    void showSiteSelection(const ParentsContext &context) override
    {
        shown << QStringLiteral("sites");
        if (onSiteSelection)
            onSiteSelection(context);
    }
    void showPreferences(const ParentsContext &) override { shown << QStringLiteral("preferences"); }
    void showSiteEditor(const ParentsContext &, qint32 siteId, const QString &siteType, const SelectedSite &row) override
    {
        const QStringList fields{row.shortName, row.ages, row.comments, row.logo, row.url};
        shown << QStringLiteral("editor %1 type '%2' on %3").arg(siteId).arg(siteType, fields.join(QLatin1Char('/')));
    }
    void showPreview(const ParentsContext &, const QUrl &address, QWidget *) override
    {
        shown << QStringLiteral("preview ") + address.toString();
    }
    QStringList shown;
    QList<bool> gateAnswers;
    std::function<void(const ParentsContext &)> onSiteSelection;
};

// Every outside part scripted, with a portal that knows the family.
struct ScriptedWorld {
    ScriptedWorld()
    {
        transport.replies.insert(QStringLiteral("version.htm"), FetchResult::success("2.04"));
        transport.replies.insert(QStringLiteral("tad_visit.asp"), FetchResult::success("welcome"));
        transport.replies.insert(QStringLiteral("tad_getface.asp"), FetchResult::success("Anna\tBen\tCara\tDan"));
    }
    BrowserServices services(const QString &executableFolder, const QString &defaultAppFolder)
    {
        return {.clock = &clock, .dialogs = &dialogs, .launcher = &launcher, .transport = &transport, .views = &views,
                .parents = &parents, .closeWindowsByTitle = [this](const QStringList &titles) { closedTitles << titles; },
                .procRoot = procRoot, .executableFolder = executableFolder, .defaultAppFolder = defaultAppFolder,
                .commandLine = commandLine, .systemConfigFile = {}};
    }
    FixedClock clock;
    ScriptedDialogs dialogs;
    RecordingLauncher launcher;
    ScriptedTransport transport;
    FakeBrowserViewFactory views;
    ScriptedParentsWindows parents;
    QStringList closedTitles;
    QString commandLine = QStringLiteral("1");
    QString procRoot = QStringLiteral("/nonexistent"); // no other browser, whatever runs on this machine
};
