#pragma once

#include <QString>
#include <QTextDocument>

// Names and comments come from the portal and from files, never from us: a
// tool tip shows them as typed. Qt's tool tips guess rich text from the text
// itself, so "<b>Big</b>" would show bold and "<img src=...>" would fetch a
// picture; such a text is turned into rich text that shows it literally.
// (Labels are given Qt::PlainText instead.)
inline QString plainToolTip(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}
