#pragma once

// What the value sources share (values.cpp, numbers.cpp, dates.cpp, the picture formatting):
// internal to the library.

#include <QDate>
#include <QStringList>

namespace Norvix::Values {

inline bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

inline int hexDigit(char16_t c)
{
    if (isAsciiDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Day 0 of the serial dates, and the date of a time alone.
inline const QDate serialBase(1899, 12, 30);

// The name at `index` of a list of the regional settings, empty when there is none.
inline QString nameAt(const QStringList &names, int index)
{
    return index >= 0 && index < names.size() ? names.at(index) : QString();
}

} // namespace Norvix::Values
