#include "name_filter.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(
        bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

NameFilter::NameFilter(const QString& filter)
    : m_lowerFilter(filter.toLower())
{
    const QByteArray utf8 = m_lowerFilter.toUtf8();
    m_filterIsAscii = isAscii(utf8);
    if (m_filterIsAscii)
        m_asciiLowerFilter = utf8;
}

bool NameFilter::matches(QByteArrayView name) const
{
    if (m_lowerFilter.isEmpty())
        return true;
    if (!isAscii(name)) {
        // Characters outside ASCII may lower-case to ASCII ones (the Kelvin sign to "k"), so such
        // names always take the Unicode path.
        return QString::fromUtf8(name).toLower().contains(m_lowerFilter);
    }
    // An ASCII name lower-cases to ASCII, which can never hold a filter that is not ASCII.
    if (!m_filterIsAscii)
        return false;

    std::array<char, 256> buffer;
    std::string lowered;
    char* out = buffer.data();
    if (static_cast<size_t>(name.size()) > buffer.size()) {
        lowered.resize(name.size());
        out = lowered.data();
    }
    std::transform(name.begin(), name.end(), out, asciiLower);
    const std::string_view haystack(out, name.size());
    return haystack.find(std::string_view(m_asciiLowerFilter.constData(), m_asciiLowerFilter.size()))
        != std::string_view::npos;
}
