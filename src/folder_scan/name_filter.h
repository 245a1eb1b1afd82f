#pragma once

#include <QByteArrayView>
#include <QString>

// Whether a file name contains the filter text, ignoring case. Both sides are lower-cased
// character by character with Unicode rules; names and filters made of ASCII alone take a fast
// path on the bytes, which gives the same answer.
class NameFilter final
{
public:
    explicit NameFilter(const QString& filter);

    bool matches(QByteArrayView name) const;

private:
    QString m_lowerFilter;
    QByteArray m_asciiLowerFilter; // empty unless the lower-cased filter is pure ASCII
    bool m_filterIsAscii = false;
};
