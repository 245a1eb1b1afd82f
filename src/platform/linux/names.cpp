// Names and paths: bytes as the file system holds them, the names listings mark, and the lookup of a
// typed path.
#include "internal.h"

#include <QFile>

#include <algorithm>
#include <fnmatch.h>

namespace Platform {

namespace Linux {

bool isHidden(QByteArrayView name)
{
    return name.startsWith('.');
}

bool isTrashName(QByteArrayView name)
{
    if (name == QByteArrayView(".Trash"))
        return true;
    const QByteArrayView prefix(".Trash-");
    return name.size() > prefix.size() && name.startsWith(prefix)
        && std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace Linux

using namespace Linux;

namespace {

// Only "*" and "?" are wildcards in a typed path; every other character, brackets and backslashes
// included, must match itself.
QByteArray wildcardPattern(QByteArrayView component)
{
    QByteArray pattern;
    pattern.reserve(component.size() * 2);
    for (const char c : component) {
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

} // namespace

bool isSeparator(char c)
{
    return c == Separator;
}

QByteArray pathFromText(const QString& text)
{
    return QFile::encodeName(text);
}

bool systemRefusesName(QByteArrayView)
{
    // Linux refuses only the separator and NUL, which no name of a single entry holds.
    return false;
}

QByteArray firstMatchingEntry(const QByteArray& path)
{
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(Separator))
        trimmed.chop(1);
    if (trimmed.isEmpty())
        return {};
    if (trimmed == QByteArrayView("/"))
        return trimmed;

    const qsizetype cut = trimmed.lastIndexOf(Separator);
    const QByteArray last = trimmed.mid(cut + 1);
    if (isHidden(last))
        return {};

    if (!last.contains('*') && !last.contains('?')) {
        return entryExists(trimmed) ? last : QByteArray();
    }

    QByteArray parent = cut < 0 ? QByteArray(".") : trimmed.left(cut);
    if (parent.isEmpty())
        parent = "/";
    const QByteArray pattern = wildcardPattern(last);
    DirListing listing(openFolderToList(parent));
    DirEntry entry;
    while (listing.next(entry)) {
        if (entry.isHidden)
            continue;
        const QByteArray name = entry.name.toByteArray();
        if (fnmatch(pattern.constData(), name.constData(), 0) == 0)
            return name;
    }
    return {};
}

} // namespace Platform
