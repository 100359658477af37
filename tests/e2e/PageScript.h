#pragma once

// What the end-to-end tests ask of a page in a web view: a script's value,
// whether a page has come, and a real click where the page shows an element.
#include "E2eSupport.h"
#include "support/RealInput.h"

#include <QPointF>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>
#include <optional>

namespace pageScript {

// The value of a script run in the page, or an invalid value when it gives none within ten seconds.
inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>(); // outlives a late answer
    page->runJavaScript(script, [result](const QVariant &value) { *result = value; });
    e2e::waitFor([&] { return result->has_value(); }, 10000);
    return result->value_or(QVariant());
}

// True once the page shows an address starting with `address`, its document complete.
inline bool shows(QWebEnginePage *page, const QString &address)
{
    return e2e::waitFor([&] {
        return page->url().toString().startsWith(address) && evaluate(page, QStringLiteral("document.readyState")) == QStringLiteral("complete");
    }, 15000);
}

// A click of the mouse where the page shows an element.
inline void clickElement(QWebEngineView *view, const QString &selector)
{
    const QVariantList at = evaluate(view->page(), QStringLiteral(
        "(() => { const e = document.querySelector('%1'); if (!e) return []; e.scrollIntoView({block: 'center'});"
        " const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()").arg(selector)).toList();
    QVERIFY2(at.size() == 2, qPrintable("no element " + selector));
    clickAt(view, Qt::LeftButton, QPointF(at[0].toDouble(), at[1].toDouble()).toPoint());
}

} // namespace pageScript
