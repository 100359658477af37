#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct LogoImage {
    QByteArray contentType;
    QByteArray data;
};

// A paletted image written as a GIF (no compression worth the name; the images are tiny).
QByteArray encodeGif(int width, int height, const QByteArray &palette /*RGB triples, 4 colours*/,
                     const QByteArray &pixels /*one palette index per pixel*/);

QByteArray defaultLogoGif();
// An image of the letter: SVG, because a bitmap font would not cover every character a
// parent may type as a site name's first letter.
QByteArray letterLogoSvg(const QString &letter);

// The logo served for a file name under /tad/logos/: "default_logo.gif", or a letter logo
// "<character>_gif.gif". Names holding "/", "\", ".." or a control character are refused.
std::optional<LogoImage> logoFor(const QString &name);

// The logo a site named `siteName` gets: the letter logo of its first character, upper-cased
// where that stays one character, or "default_logo.gif" where no letter logo can be served
// ("/r/kids").
QString letterLogoName(const QString &siteName);
