// Names and paths: UTF-16 on the system and WTF-8 bytes in the program, the names Windows refuses,
// the name a folder holds for an entry, and the lookup of a typed path.
#include "internal.h"

#include <QByteArrayList>
#include <QString>

#include <algorithm>
#include <array>

namespace Platform {

namespace Windows {

namespace {

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xdc00 && unit <= 0xdfff;
}

} // namespace

QByteArray wtf8(const wchar_t* units, qsizetype length)
{
    QByteArray bytes;
    bytes.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        char32_t point = static_cast<char16_t>(units[i]);
        if (isHighSurrogate(point) && i + 1 < length && isLowSurrogate(static_cast<char16_t>(units[i + 1])))
            point = 0x10000 + ((point - 0xd800) << 10) + (static_cast<char16_t>(units[++i]) - 0xdc00);
        if (point < 0x80) {
            bytes += static_cast<char>(point);
        } else if (point < 0x800) {
            bytes += static_cast<char>(0xc0 | (point >> 6));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else if (point < 0x10000) {
            bytes += static_cast<char>(0xe0 | (point >> 12));
            bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            bytes += static_cast<char>(0xf0 | (point >> 18));
            bytes += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
            bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        }
    }
    return bytes;
}

// The UTF-16 units of a WTF-8 text. Bytes that form no code point, which no Windows name gives,
// become U+FFFD.
std::wstring wide(QByteArrayView bytes)
{
    std::wstring units;
    units.reserve(bytes.size());
    const auto byteAt = [&bytes](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    for (qsizetype i = 0; i < bytes.size();) {
        const unsigned char lead = byteAt(i);
        const int length = lead < 0x80 ? 1
            : (lead & 0xe0) == 0xc0    ? 2
            : (lead & 0xf0) == 0xe0    ? 3
            : (lead & 0xf8) == 0xf0    ? 4
                                       : 0;
        bool wellFormed = length > 0 && i + length <= bytes.size();
        char32_t point = length == 1 ? lead
            : length == 2            ? lead & 0x1f
            : length == 3            ? lead & 0x0f
                                     : lead & 0x07;
        for (int k = 1; wellFormed && k < length; ++k) {
            wellFormed = (byteAt(i + k) & 0xc0) == 0x80;
            point = (point << 6) | (byteAt(i + k) & 0x3f);
        }
        if (!wellFormed) {
            units += L'\xfffd';
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            units += static_cast<wchar_t>(0xd800 + (point >> 10));
            units += static_cast<wchar_t>(0xdc00 + (point & 0x3ff));
        } else {
            units += static_cast<wchar_t>(point);
        }
        i += length;
    }
    return units;
}

std::wstring longPath(QByteArrayView path)
{
    std::wstring units = wide(path);
    std::replace(units.begin(), units.end(), L'/', L'\\');
    if (units.starts_with(L"\\\\?\\"))
        return units;
    const DWORD needed = GetFullPathNameW(units.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return units;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(units.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    if (full.starts_with(L"\\\\.\\"))
        return full; // a device, left as it is
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool hiddenBySystem(DWORD attributes)
{
    return attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// The file system itself would hold some of these when they arrive through the native calls
// used here, but Explorer and most programs could then neither open nor remove the file.
bool windowsRefusesName(QByteArrayView name)
{
    constexpr QByteArrayView refused = "\\/:*?\"<>|";
    if (name.isEmpty() || name.endsWith('.') || name.endsWith(' '))
        return true;
    if (std::any_of(name.begin(), name.end(),
            [&refused](char c) { return static_cast<unsigned char>(c) < 0x20 || refused.contains(c); }))
        return true;
    // Device names, with any extension: "CON", "nul.txt", "COM1.jpg".
    QByteArray stem
        = name.first(name.contains('.') ? name.indexOf('.') : name.size()).toByteArray().toUpper();
    while (stem.endsWith(' '))
        stem.chop(1);
    static const std::array<QByteArrayView, 4> devices = { "CON", "PRN", "AUX", "NUL" };
    if (std::find(devices.begin(), devices.end(), QByteArrayView(stem)) != devices.end())
        return true;
    if (stem.size() >= 4 && (stem.startsWith("COM") || stem.startsWith("LPT"))) {
        const QByteArrayView digit = QByteArrayView(stem).sliced(3);
        // "COM1" to "COM9", and the superscript digits Windows also counts.
        return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xc2\xb9"
            || digit == "\xc2\xb2" || digit == "\xc2\xb3";
    }
    return false;
}

// The name under which the folder now holds the entry `name`, which it looks up ignoring case.
QByteArray storedName(HANDLE folder, const std::wstring& name)
{
    // A fresh handle of the folder, since a listing handle keeps the first name it was asked for.
    ScopedHandle listing;
    if (!NT_SUCCESS(
            openRelative(folder, std::wstring(), FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, *listing.out())))
        return {};
    alignas(8) std::array<char, sizeof(FILE_FULL_DIR_INFO) + MAX_PATH * 2 * sizeof(wchar_t)> buffer;
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name.c_str());
    mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    mask.MaximumLength = mask.Length;
    IO_STATUS_BLOCK status = {};
    if (!NT_SUCCESS(
            Native::calls.queryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &status, buffer.data(),
                static_cast<ULONG>(buffer.size()), Native::fileFullDirectoryInformation, TRUE, &mask, TRUE)))
        return {};
    const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data());
    return wtf8(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
}

bool sameIgnoringCase(const std::wstring& first, const std::wstring& second)
{
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
               static_cast<int>(second.size()), TRUE)
        == CSTR_EQUAL;
}

} // namespace Windows

using namespace Windows;

namespace {

// Only "*" and "?" are wildcards; letter case does not count, as everywhere on Windows.
bool wildcardMatches(const QString& pattern, const QString& name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype starAt = -1;
    qsizetype resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size()
            && (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// "D:", "D:\", "\\server\share", "\\?\D:\": the path names a volume's root.
bool isRoot(const QByteArray& path)
{
    QByteArray rest = path;
    if (rest.startsWith("\\\\?\\UNC\\"))
        rest = "\\\\" + rest.mid(8);
    else if (rest.startsWith("\\\\?\\"))
        rest = rest.mid(4);
    if (rest.size() == 2 && rest[1] == ':')
        return true;
    if (rest.startsWith("\\\\")) {
        const QByteArrayList parts = rest.mid(2).split('\\');
        return parts.size() == 2 && !parts[0].isEmpty() && !parts[1].isEmpty();
    }
    return false;
}

} // namespace

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

QByteArray pathFromText(const QString& text)
{
    QByteArray path = wtf8(reinterpret_cast<const wchar_t*>(text.utf16()), text.size());
    path.replace('/', '\\');
    return path;
}

bool entryExists(const QByteArray& path)
{
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fitsPathLimit(QByteArrayView path)
{
    // The "\\?\" form takes 32,767 UTF-16 units; a byte that continues a character adds none, and
    // a four-byte character takes two.
    constexpr qsizetype longestPath = 32767 - 8;
    qsizetype units = 0;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xc0) == 0x80 ? 0 : (byte & 0xf8) == 0xf0 ? 2 : 1;
    }
    return units < longestPath;
}

QByteArray firstMatchingEntry(const QByteArray& path)
{
    QByteArray trimmed = path;
    trimmed.replace('/', '\\');
    while (trimmed.endsWith('\\'))
        trimmed.chop(1);
    if (path.isEmpty())
        return {};
    if (trimmed.isEmpty() || isRoot(trimmed))
        return entryExists(trimmed + '\\') ? path : QByteArray();

    const qsizetype cut = trimmed.lastIndexOf('\\');
    const QByteArray last = trimmed.mid(cut + 1);
    // "." and ".." name no entry, though the system resolves them to a folder.
    if (last == "." || last == "..")
        return {};
    if (!last.contains('*') && !last.contains('?')) {
        const DWORD attributes = GetFileAttributesW(longPath(trimmed).c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || hiddenBySystem(attributes) ? QByteArray() : last;
    }

    QByteArray parent = cut < 0 ? QByteArray(".") : trimmed.left(cut + 1);
    const QString pattern = QString::fromUtf8(last);
    DirListing listing(openFolderToList(parent));
    DirEntry entry;
    while (listing.next(entry)) {
        if (entry.isHidden || entry.name == QByteArrayView(".") || entry.name == QByteArrayView(".."))
            continue;
        if (wildcardMatches(pattern, QString::fromUtf8(entry.name)))
            return entry.name.toByteArray();
    }
    return {};
}

bool systemRefusesName(QByteArrayView name)
{
    return windowsRefusesName(name);
}

} // namespace Platform
