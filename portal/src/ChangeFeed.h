#pragma once

#include "DbConfig.h"

#include <atomic>
#include <memory>
#include <optional>

// Tells the workers whether the replies they keep may be stale: a generation that grows
// with every change this process commits and, on PostgreSQL, with every change another
// instance announces. Those are heard with LISTEN on one connection of this process's own,
// in a thread of its own, so a read costs no round trip to learn of them.
//
// Each change transaction announces itself with pg_notify on ChangeChannel; PostgreSQL
// delivers the notification when (and only if) the transaction commits.
class ChangeFeed {
public:
    // Written into pg_stat_activity, so the listening connection can be told from others.
    static constexpr char ApplicationName[] = "tadpole-portal changes";

    // Only this process's own changes: SQLite, one process per database file.
    ChangeFeed();
    // Also listens to the PostgreSQL database's other instances.
    explicit ChangeFeed(const DbConfig &postgres);
    ~ChangeFeed();
    ChangeFeed(const ChangeFeed &) = delete;
    ChangeFeed &operator=(const ChangeFeed &) = delete;

    // Nothing while another instance's change could go unheard (the listening connection
    // is not up): nothing may be reused then.
    std::optional<quint64> generation() const;
    // After this process committed a change, or tried to (a failed commit may have landed).
    void changed();
    // Up to `ms` for the listening connection; true once it listens (always for SQLite).
    bool waitUntilListening(int ms);

private:
    struct Listener;
    std::atomic<quint64> m_generation{1};
    std::atomic<bool> m_listening{true};
    std::unique_ptr<Listener> m_listener;
};
