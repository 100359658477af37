#pragma once

// What one installation or one client address may leave in the database, so that no one
// fills it for everyone else.
#include "HttpMessage.h"

#include <QByteArray>
#include <QHash>

#include <mutex>

struct PortalBounds {
    int sitesPerInstallation = 500;        // private sites an installation owns
    int suggestionsPerInstallation = 50;   // suggestions kept from one installation
    int writesPerAddressPerMinute = 120;   // changes, visits and suggestions; 0: no limit
};

// Each client address's writes, as a bucket of `perMinute` that refills at that rate;
// shared by every worker.
class WriteRate {
public:
    explicit WriteRate(int perMinute) : m_perMinute(perMinute) {}
    // False when the address has used up its writes for now.
    bool admit(const QByteArray &address);

private:
    struct Bucket {
        double left = 0;
        double at = 0;  // seconds
    };
    const int m_perMinute;
    std::mutex m_mutex;
    double m_sweptAt = 0;
    QHash<QByteArray, Bucket> m_buckets;  // a bucket that has refilled is dropped
};

// The pages that write (under /tad/, in lower case), which WriteRate counts.
bool isWritePage(const QByteArray &page);
// The answers to a refused write: over WriteRate's bound, a database that is read-only.
HttpReply tooManyWrites();
HttpReply databaseReadOnly();
// The answers to an add refused by PortalBounds, in words the browser's site editor shows.
HttpReply sitesBoundReached(int bound);
HttpReply suggestionsBoundReached();
