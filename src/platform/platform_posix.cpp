#include "platform.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

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

// O_PATH asks nothing of the folder's own permissions and, on FUSE, nothing of the daemon.
constexpr int folderOpenFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int listingOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

constexpr int temporaryNameAttempts = 8;

QByteArray temporaryName()
{
    // Plain ASCII, so that every volume can hold it, and not hidden, so that a user finds the file.
    return "batch-renamer-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
}

// Whether two names are the same under Unicode case folding; names that are not valid UTF-8 are
// never taken for one another.
bool sameNameIgnoringCase(const QByteArray& first, const QByteArray& second)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString firstText = decoder(first);
    const QString secondText = decoder(second);
    return !decoder.hasError() && firstText.toCaseFolded() == secondText.toCaseFolded();
}

// FUSE's FAT driver loses the file when it refuses a rename (a name with a character FAT cannot
// hold, a character outside printable ASCII, or more than 255 characters), so such names are
// refused before it sees them.
bool dropsFilesOnRefusedNames(quint64 volume)
{
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    const QByteArray device = QByteArray::number(major(volume)) + ':' + QByteArray::number(minor(volume));
    // Files in /proc report no size, so they are read to the end rather than tested for it.
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        // "id parent major:minor root mount-point options [optional fields] - type source options"
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 2 && fields[2] == device && separator >= 0 && separator + 1 < fields.size())
            return fields[separator + 1] == "fuse.fusefat";
    }
    return false;
}

bool fitsFuseFat(const QByteArray& name)
{
    constexpr QByteArrayView refused = "\"*:<>?\\|";
    return name.size() <= 255 && std::all_of(name.cbegin(), name.cend(), [&refused](char c) {
        return c >= 0x20 && c <= 0x7e && !refused.contains(c);
    });
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

DirListing::DirListing(const FolderHandle& folder)
{
    // The listing closes its own copy of the handle, and with it the read-ahead buffer, while the
    // folder's handle stays open for opening the folders below it.
    const int fd = folder.isOpen() ? ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0)
        return;
    m_handle = fdopendir(fd);
    if (!m_handle)
        ::close(fd);
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

FolderHandle::FolderHandle(int fd)
    : m_fd(fd)
{
    struct stat status = {};
    if (m_fd >= 0 && fstat(m_fd, &status) == 0)
        m_identity = { status.st_dev, status.st_ino };
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_identity(other.m_identity)
{
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_identity = other.m_identity;
    }
    return *this;
}

FolderHandle openFolder(const QByteArray& path)
{
    return FolderHandle(::open(path.constData(), folderOpenFlags));
}

FolderHandle openFolderToList(const QByteArray& path)
{
    return FolderHandle(::open(path.constData(), listingOpenFlags));
}

FolderHandle openSubfolderToList(const FolderHandle& parent, const QByteArray& name)
{
    if (!parent.isOpen())
        return {};
    return FolderHandle(::openat(parent.fd(), name.constData(), listingOpenFlags | O_NOFOLLOW));
}

bool fitsPathLimit(QByteArrayView path)
{
    return path.size() < PATH_MAX; // PATH_MAX counts the terminating NUL
}

void allowOneOpenFolderPerLevel()
{
    // Each level of a path takes at least two bytes ("a/"); the rest is room for everything else
    // the program holds open.
    constexpr rlim_t wanted = PATH_MAX / 2 + 256;
    struct rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

FolderHandle openFolderBeneath(const FolderHandle& base, QByteArrayView relative)
{
    if (!base.isOpen())
        return {};
    const QByteArray path = relative.isEmpty() ? QByteArray(".") : relative.toByteArray();
    open_how how = {};
    how.flags = folderOpenFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, base.fd(), path.constData(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS)
        return openFolderByComponents(base, relative);
    return FolderHandle(static_cast<int>(fd));
}

FolderHandle openFolderByComponents(const FolderHandle& base, QByteArrayView relative)
{
    if (!base.isOpen())
        return {};
    int fd = ::fcntl(base.fd(), F_DUPFD_CLOEXEC, 0);
    for (const QByteArray& component : relative.toByteArray().split(Separator)) {
        if (fd < 0)
            break;
        if (component.isEmpty())
            continue;
        const int next = component == "." || component == ".."
            ? -1
            : ::openat(fd, component.constData(), folderOpenFlags | O_NOFOLLOW);
        ::close(fd);
        fd = next;
    }
    return FolderHandle(fd);
}

// 0 when `name` names an entry of `folder`, else the errno of the look-up. The file system itself is
// asked: a FUSE volume keeps answering from its cache for a while after a rename made it stale.
int lookUp(const FolderHandle& folder, const QByteArray& name)
{
    struct statx status = {};
    return resultOf(
        statx(folder.fd(), name.constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_TYPE, &status));
}

bool entryExists(const FolderHandle& folder, const QByteArray& name)
{
    return lookUp(folder, name) == 0;
}

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    return resultOf(renameat2(folder.fd(), from.constData(), folder.fd(), to.constData(), RENAME_NOREPLACE));
}

int linkThenUnlink(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    // linkat() fails with EEXIST when the target exists, so nothing can be replaced; flags 0 links
    // a symbolic link itself rather than what it points to.
    if (linkat(folder.fd(), from.constData(), folder.fd(), to.constData(), 0) != 0)
        return errno;
    if (unlinkat(folder.fd(), from.constData(), 0) != 0) {
        const int error = errno;
        unlinkat(folder.fd(), to.constData(), 0); // the file keeps its old name; report the move as failed
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
    return resultOf(renameat(folder.fd(), from.constData(), folder.fd(), to.constData()));
}

FileMover::FileMover()
    : FileMover(MoveSteps { renameNoReplace, linkThenUnlink, checkThenRename })
{
}

FileMover::FileMover(const MoveSteps& steps)
    : m_steps(steps)
{
}

FileMover::Volume& FileMover::volumeOf(const FolderHandle& folder)
{
    const auto [it, inserted] = m_volumes.try_emplace(folder.volume());
    if (inserted)
        it->second.dropsFilesOnRefusedNames = dropsFilesOnRefusedNames(folder.volume());
    return it->second;
}

MoveResult FileMover::moveOnce(
    const FolderHandle& folder, Volume& volume, const QByteArray& from, const QByteArray& to)
{
    if (volume.dropsFilesOnRefusedNames && !fitsFuseFat(to))
        return { EINVAL, MoveWay::NotMoved, false };
    // A refusal is remembered only once a later way has moved the file: some file systems answer a
    // name they cannot hold as they answer a way of moving they lack.
    Volume refused = volume;
    const auto attempt = [&](MoveStep step, MoveWay way) {
        const int error = step(folder, from, to);
        if (error == 0)
            volume = refused;
        return MoveResult { error, error == 0 ? way : MoveWay::NotMoved, false };
    };
    if (!refused.refusesNoReplace) {
        const MoveResult result = attempt(m_steps.renameNoReplace, MoveWay::RenameNoReplace);
        if (!flagRefusedByFileSystem(result.error))
            return result;
        refused.refusesNoReplace = true;
    }
    if (!refused.refusesHardLinks) {
        const MoveResult result = attempt(m_steps.linkThenUnlink, MoveWay::LinkThenUnlink);
        if (!hardLinksRefused(result.error))
            return result;
        refused.refusesHardLinks = true;
    }
    return attempt(m_steps.checkThenRename, MoveWay::CheckThenRename);
}

// A case-insensitive volume finds the source itself under the target's letters, so the direct move
// reports that the target exists. The file goes to a unique temporary name first and from there to
// the target, each step refusing to replace anything. A crash between the two steps leaves the
// file, whole, under the temporary name in its own folder.
MoveResult FileMover::changeCaseOnly(
    const FolderHandle& folder, Volume& volume, const QByteArray& from, const QByteArray& to)
{
    MoveResult toTemporary;
    QByteArray temporary;
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        temporary = temporaryName();
        toTemporary = moveOnce(folder, volume, from, temporary);
        if (toTemporary.error != EEXIST)
            break;
    }
    if (toTemporary.error != 0)
        return toTemporary;
    MoveResult toTarget = moveOnce(folder, volume, temporary, to);
    if (toTarget.error != 0) {
        // Should the way back fail too, the file stays whole under the temporary name.
        moveOnce(folder, volume, temporary, from);
        return toTarget;
    }
    toTarget.throughTemporaryName = true;
    return toTarget;
}

MoveResult FileMover::move(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    Volume& volume = volumeOf(folder);
    const MoveResult direct = moveOnce(folder, volume, from, to);
    if (direct.error == EEXIST && from != to && sameNameIgnoringCase(from, to))
        return changeCaseOnly(folder, volume, from, to);
    return direct;
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
        if (isHidden(entry.name))
            continue;
        const QByteArray name = entry.name.toByteArray();
        if (fnmatch(pattern.constData(), name.constData(), 0) == 0)
            return name;
    }
    return {};
}

} // namespace Platform
