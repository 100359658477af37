#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// "blocked.log" in the program folder: one line for each blocked attempt,
// TIME<TAB>CHILD<TAB>ADDRESS, for the parent to read later. TIME is ISO 8601
// local time with its offset; tabs, line breaks and backslashes in the child's
// name and the address are escaped (\t \n \r \\). An address longer than
// `MaxAddress` characters (a page can ask for megabytes of a data: address
// again and again) is kept cut short, without its user name and password so
// that its host stays in what is kept, and ends in "…": the file stays small
// and the newest attempts are always read back.
//
// A line is appended with one write, so a crash or kill -9 loses at most that
// line. The file keeps the last `Bound` attempts: once it has grown `Slack`
// lines past that, it is rewritten whole (temporary file, then rename) with the
// last `Bound`; trimming at every line would rewrite the whole file for each
// attempt of a page that tries again and again. Reading gives the last
// `Bound` lines that parse; a damaged one is skipped.
class BlockedJournal {
public:
    static constexpr int Bound = 1000;
    static constexpr int Slack = 100;
    static constexpr int MaxAddress = 2000;

    struct Attempt {
        QDateTime time;
        QString child;
        QString address;
    };
    // The attempts on one host and port, as the parents' list shows them.
    struct Host {
        QString host;
        int count = 0;
        QStringList children; // in the order they first tried
        QDateTime lastTime;
        QString lastAddress;
    };

    explicit BlockedJournal(QString path) : m_path(std::move(path)) {}

    // Appends one line; false with a reason when the file cannot take it.
    bool record(const Attempt &attempt, QString *error = nullptr);
    // The last `Bound` attempts that parse, oldest first.
    QList<Attempt> read() const;
    // Rewrites the file whole without the attempts on `host`.
    bool forget(const QString &host, QString *error = nullptr);

    // Newest host first.
    static QList<Host> byHost(const QList<Attempt> &attempts);
    // The host an address is listed under: its host name (encoded as the
    // filter reads it) with any port, or the whole address where it has none.
    static QString hostOf(const QString &address);
    static QString line(const Attempt &attempt);
    static std::optional<Attempt> parse(const QString &line);

private:
    bool rewrite(const QList<Attempt> &attempts, QString *error);

    QString m_path;
    int m_lines = -1; // lines in the file, counted at the first record
};
