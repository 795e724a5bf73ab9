// Qt's text types as gtest prints them in a failure: as text, not as bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.toStdString() << '"';
}
inline void PrintTo(const QStringList& lines, std::ostream* out) {
    *out << '[';
    for (int i = 0; i < lines.size(); ++i)
        *out << (i ? ", \"" : "\"") << lines[i].toStdString() << '"';
    *out << ']';
}
