#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

DIR* dirHandle(void* handle)
{
    return static_cast<DIR*>(handle);
}

int resultOf(int returnValue)
{
    return returnValue == 0 ? 0 : errno;
}

bool flagRefusedByFileSystem(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool hardLinksRefused(int error)
{
    // vfat and similar refuse hard links with EPERM; others say the operation is unsupported.
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

bool isHidden(QByteArrayView name)
{
    return name.startsWith('.');
}

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

DirListing::DirListing(const QByteArray& path)
    : m_handle(opendir(path.constData()))
{
}

DirListing::~DirListing()
{
    close();
}

bool DirListing::next(DirEntry& entry)
{
    if (!m_handle)
        return false;
    const dirent* raw = readdir(dirHandle(m_handle));
    if (!raw)
        return false;
    entry.name = QByteArrayView(raw->d_name);
    if (raw->d_type != DT_UNKNOWN) {
        entry.isDirectory = raw->d_type == DT_DIR;
    } else {
        // Some file systems leave the type out of the listing; ask without following links.
        struct stat status = {};
        entry.isDirectory
            = fstatat(dirfd(dirHandle(m_handle)), raw->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(status.st_mode);
    }
    return true;
}

void DirListing::close()
{
    if (m_handle) {
        closedir(dirHandle(m_handle));
        m_handle = nullptr;
    }
}

bool entryExists(const QByteArray& path)
{
    struct stat status = {};
    return lstat(path.constData(), &status) == 0;
}

int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    return resultOf(renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE));
}

int linkThenUnlink(const QByteArray& from, const QByteArray& to)
{
    // linkat() fails with EEXIST when the target exists, so nothing can be replaced; flags 0 links
    // a symbolic link itself rather than what it points to.
    if (linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0)
        return errno;
    if (unlink(from.constData()) != 0) {
        const int error = errno;
        unlink(to.constData()); // the file keeps its old name; report the move as failed
        return error;
    }
    return 0;
}

int checkThenRename(const QByteArray& from, const QByteArray& to)
{
    // Best effort only: another process may create the target between the check and the rename,
    // and rename() would then replace it. This runs only on file systems that refuse both the
    // no-replace flag and hard links, where the kernel offers no atomic way to refuse an overwrite.
    struct stat status = {};
    if (lstat(to.constData(), &status) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return resultOf(std::rename(from.constData(), to.constData()));
}

int moveFileNoReplace(const QByteArray& from, const QByteArray& to, const MoveSteps& steps)
{
    int error = steps.renameNoReplace(from, to);
    if (!flagRefusedByFileSystem(error))
        return error;
    error = steps.linkThenUnlink(from, to);
    if (!hardLinksRefused(error))
        return error;
    return steps.checkThenRename(from, to);
}

int moveFileNoReplace(const QByteArray& from, const QByteArray& to)
{
    return moveFileNoReplace(from, to, { renameNoReplace, linkThenUnlink, checkThenRename });
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
    DirListing listing(parent);
    DirEntry entry;
    while (listing.next(entry)) {
        if (isHidden(entry.name))
            continue;
        const QByteArray name = entry.name.toByteArray();
        if (fnmatch(pattern.constData(), name.constData(), 0) == 0)
            return name;
    }
    return {};
}

} // namespace Platform
