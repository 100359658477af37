#include "PortalBounds.h"

#include <algorithm>
#include <chrono>

bool WriteRate::admit(const QByteArray &address)
{
    if (m_perMinute <= 0)
        return true;
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    const double perSecond = m_perMinute / 60.0;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (now - m_sweptAt >= 60) {
        // Every bucket untouched for a minute is full again: as good as none.
        m_sweptAt = now;
        m_buckets.removeIf([now](const auto &entry) { return now - entry.value().at >= 60; });
    }
    const auto found = m_buckets.find(address);
    Bucket &b = found != m_buckets.end() ? *found : *m_buckets.insert(address, Bucket{double(m_perMinute), now});
    b.left = std::min(double(m_perMinute), b.left + (now - b.at) * perSecond);
    b.at = now;
    if (b.left < 1)
        return false;
    b.left -= 1;
    return true;
}

bool isWritePage(const QByteArray &page)
{
    return page == "tad_visit.asp" || page == "tad_saveitem.asp" || page == "tad_saveface.asp"
           || page == "tad_postsite.asp" || page == "tad_suggestsite.asp";
}

HttpReply tooManyWrites()
{
    HttpReply r = HttpReply::text(429, "too many changes from this address in one minute, nothing was changed; "
                                       "try again in a minute\n");
    r.addHeader("Retry-After", "60");
    return r;
}

HttpReply databaseReadOnly()
{
    return HttpReply::text(503, "the database is read-only just now, nothing was changed\n");
}

HttpReply sitesBoundReached(int bound)
{
    return HttpReply::text(409, "this installation has " + QByteArray::number(bound)
                                    + " sites of its own, the most the portal keeps: remove one to add another\n");
}

HttpReply suggestionsBoundReached()
{
    return HttpReply::text(409, "the portal keeps no more suggestions from this installation\n");
}
