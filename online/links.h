// The links the program hands to the desktop: the product web site's pages
// and the three share links. Every web address is built from kWebsite, which
// the build sets (PARLUNE_WEBSITE; a placeholder under the reserved .example
// domain until the site is set). Share pages take plain HTTP addresses, and
// the query values go in as they stand: the URL parser's tolerant mode
// encodes what needs encoding.
//
// Thread contract: constants and pure functions; any thread.
#pragma once

#include <QString>
#include <QUrl>

#include "online/build_defaults.h"

namespace parlune::links {

inline constexpr char kWebsite[] = PARLUNE_WEBSITE_DEFAULT;
// The two share sites' pages for a new post and for sharing a page.
inline constexpr char kPostIntentPage[] = "http://twitter.com/intent/tweet";
inline constexpr char kPageSharePage[] = "http://www.facebook.com/sharer/sharer.php";

// The home page, with its trailing "/".
inline QString homePage() { return QString::fromLatin1(kWebsite) + QLatin1Char('/'); }
// What every entry of the setup menu opens.
inline QString howItWorksPage() { return homePage() + QStringLiteral("how-it-works/"); }
// The host name, as the share texts quote it.
inline QString host() {
    QString text = QString::fromLatin1(kWebsite);
    const int scheme = text.indexOf(QStringLiteral("://"));
    return scheme < 0 ? text : text.mid(scheme + 3);
}
// The web site button's text: the address in capitals.
inline QString buttonText() { return host().toUpper(); }

// A new mail with no recipient: the subject and a three-paragraph body.
inline QUrl mailLink() {
    return QUrl(QStringLiteral("mailto:?subject=I just found this amazing voice changing app!"
                               "&body=Hey, I just discovered PARLUNE, a super cool voice changing "
                               "app to use with skype or any other voip app!\n\nYou can also "
                               "download it here: ") +
                    homePage() + QStringLiteral(" \n\nHave fun too!"),
                QUrl::TolerantMode);
}
inline QUrl postLink() {
    return QUrl(QString::fromLatin1(kPostIntentPage) +
                    QStringLiteral("?text=Checkout the Parlune Real-time Voice Changer for Skype "
                                   "and Game chat @ ") +
                    host(),
                QUrl::TolerantMode);
}
inline QUrl pageShareLink() {
    return QUrl(QString::fromLatin1(kPageSharePage) + QStringLiteral("?u=") + host() +
                    QStringLiteral("/share/"),
                QUrl::TolerantMode);
}

}  // namespace parlune::links
