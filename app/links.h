// The product web site: every web address the program opens or shows is
// built from kWebsite (plain HTTP, as the share pages expect). The address
// is a placeholder under the reserved .example domain until the site is set.
//
// Thread contract: constants and pure functions; any thread.
#pragma once

#include <QString>

namespace parlune::app::links {

inline constexpr char kWebsite[] = "http://parlune.example";

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

}  // namespace parlune::app::links
