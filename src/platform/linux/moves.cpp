// The three ways a file is moved within its folder, none of which replaces an existing entry.
#include "internal.h"
#include "native_calls.h"
#include "platform/file_bytes.h"

#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

using namespace Linux;

namespace {

// Whether the regular files open as `first` and `second` hold the same bytes.
bool sameFileBytes(int first, int second)
{
    struct stat firstStat = {};
    struct stat secondStat = {};
    if (::fstat(first, &firstStat) != 0 || ::fstat(second, &secondStat) != 0 || !S_ISREG(firstStat.st_mode)
        || !S_ISREG(secondStat.st_mode) || firstStat.st_size != secondStat.st_size)
        return false;
    const auto reading = [](int file) {
        return [file](char* buffer, qint64 size) -> qint64 {
            ssize_t got = 0;
            do
                got = ::read(file, buffer, size_t(size));
            while (got < 0 && errno == EINTR);
            return got;
        };
    };
    return sameBytes(reading(first), reading(second));
}

// Whether `folder` lists both names, each spelt as given: two entries, not one that a volume
// ignoring letter case (FAT, exFAT, a share of Windows') reaches by either spelling.
bool listsBoth(const FolderHandle& folder, const QByteArray& first, const QByteArray& second)
{
    const int listed = ::openat(descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!listing) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    bool firstListed = false;
    bool secondListed = false;
    while (const dirent* entry = ::readdir(listing)) {
        firstListed = firstListed || first == entry->d_name;
        secondListed = secondListed || second == entry->d_name;
    }
    ::closedir(listing);
    return firstListed && secondListed;
}

} // namespace

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    return resultOf(Native::calls.renameat2(
        descriptor(folder), from.constData(), descriptor(folder), to.constData(), RENAME_NOREPLACE));
}

int linkThenUnlink(
    const FolderHandle& folder, const QByteArray& from, const QByteArray& to, const LinkedReport& linked)
{
    // linkat() fails with EEXIST when the target exists, so nothing can be replaced; flags 0 links
    // a symbolic link itself rather than what it points to.
    if (Native::calls.linkat(descriptor(folder), from.constData(), descriptor(folder), to.constData(), 0)
        != 0)
        return errno;
    if (linked)
        linked();
    if (Native::calls.unlinkat(descriptor(folder), from.constData(), 0) != 0) {
        const int error = errno;
        Native::calls.unlinkat(
            descriptor(folder), to.constData(), 0); // the file keeps its old name; report the move as failed
        return error;
    }
    return 0;
}

int checkThenRename(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    // Best effort only: another process may create the target between the check and the rename,
    // and renameat() would then replace it. This runs only on file systems that refuse both the
    // no-replace flag and hard links, where the kernel offers no atomic way to refuse an overwrite.
    const int lookUpError = lookUp(folder, to);
    if (lookUpError != ENOENT)
        return lookUpError == 0 ? EEXIST : lookUpError;
    return resultOf(
        Native::calls.renameat(descriptor(folder), from.constData(), descriptor(folder), to.constData()));
}

int removeSecondName(const FolderHandle& folder, const QByteArray& name, const QByteArray& kept)
{
    // Without waiting on a pipe or a device that a name may stand for: only files are compared.
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int named = ::openat(descriptor(folder), name.constData(), flags);
    if (named < 0)
        return errno;
    const auto namedClosed = qScopeGuard([named] { ::close(named); });
    const int other = ::openat(descriptor(folder), kept.constData(), flags);
    if (other < 0)
        return errno;
    const auto otherClosed = qScopeGuard([other] { ::close(other); });
    if (!sameFileBytes(named, other) || !listsBoth(folder, name, kept))
        return EEXIST;
    return resultOf(Native::calls.unlinkat(descriptor(folder), name.constData(), 0));
}

int moveBackInto(
    const FolderHandle& from, const QByteArray& name, const FolderHandle& to, const QByteArray& target)
{
    return resultOf(Native::calls.renameat2(
        descriptor(from), name.constData(), descriptor(to), target.constData(), RENAME_NOREPLACE));
}

} // namespace Platform
