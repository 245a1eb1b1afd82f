// Folders: handles and their identities, opening one beneath another, and listings.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Platform {

namespace Linux {

int lookUp(const FolderHandle& folder, const QByteArray& name)
{
    struct statx status = {};
    return resultOf(statx(descriptor(folder), name.constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
        STATX_TYPE, &status));
}

} // namespace Linux

using namespace Linux;

namespace {

DIR* dirHandle(void* handle)
{
    return static_cast<DIR*>(handle);
}

// O_PATH asks nothing of the folder's own permissions and, on FUSE, nothing of the daemon.
constexpr int folderOpenFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int listingOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Whether the folder open as `fd` is the top of its file system, where trash folders are kept: its
// parent lies on another device, or it is its own parent ("/").
bool isVolumeTop(int fd)
{
    struct stat self = {};
    struct stat parent = {};
    if (fstat(fd, &self) != 0 || fstatat(fd, "..", &parent, 0) != 0)
        return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

} // namespace

DirListing::DirListing(const FolderHandle& folder)
{
    // The listing closes its own copy of the handle, and with it the read-ahead buffer, while the
    // folder's handle stays open for opening the folders below it.
    const int fd = folder.isOpen() ? ::fcntl(descriptor(folder), F_DUPFD_CLOEXEC, 0) : -1;
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
    entry.isHidden = isHidden(entry.name);
    if (raw->d_type != DT_UNKNOWN) {
        entry.isDirectory = raw->d_type == DT_DIR;
    } else {
        // Some file systems leave the type out of the listing; ask without following links.
        struct stat status = {};
        entry.isDirectory
            = fstatat(dirfd(dirHandle(m_handle)), raw->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(status.st_mode);
    }
    // The top of the volume is asked for only when a trash folder's name comes up, which is rare.
    entry.isTrash = entry.isDirectory && isTrashName(entry.name) && isVolumeTop(dirfd(dirHandle(m_handle)));
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

FolderHandle::FolderHandle(qintptr handle)
    : m_handle(handle < 0 ? noHandle : handle)
{
    struct stat status = {};
    if (isOpen() && fstat(descriptor(*this), &status) == 0)
        m_identity = { status.st_dev, status.st_ino };
}

FolderHandle::~FolderHandle()
{
    if (isOpen())
        ::close(descriptor(*this));
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
    return FolderHandle(::openat(descriptor(parent), name.constData(), listingOpenFlags | O_NOFOLLOW));
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
    const long fd = syscall(SYS_openat2, descriptor(base), path.constData(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS)
        return openFolderByComponents(base, relative);
    return FolderHandle(static_cast<int>(fd));
}

FolderHandle openFolderByComponents(const FolderHandle& base, QByteArrayView relative)
{
    if (!base.isOpen())
        return {};
    int fd = ::fcntl(descriptor(base), F_DUPFD_CLOEXEC, 0);
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

bool entryExists(const FolderHandle& folder, const QByteArray& name)
{
    return lookUp(folder, name) == 0;
}

std::optional<FileIdentity> entryIdentity(const FolderHandle& folder, const QByteArray& name)
{
    struct statx status = {};
    const auto read = [&](int sync) {
        return statx(descriptor(folder), name.constData(), AT_SYMLINK_NOFOLLOW | sync,
                   STATX_INO | STATX_BTIME | STATX_MNT_ID, &status)
            == 0;
    };
    if (!folder.isOpen() || !read(AT_STATX_SYNC_AS_STAT))
        return std::nullopt;
    // A file's number and birth never change while the system holds it, so what it has cached
    // serves, and on FUSE spares a round trip to the driver each move. A network file system may
    // have given the name to another file meanwhile: asked anew, it finds out.
    if ((!(status.stx_mask & STATX_MNT_ID) || !changedOnlyHere(status.stx_mnt_id))
        && !read(AT_STATX_FORCE_SYNC))
        return std::nullopt;
    const quint64 born = (status.stx_mask & STATX_BTIME)
        ? quint64(status.stx_btime.tv_sec) * 1000000000u + status.stx_btime.tv_nsec
        : 0;
    return FileIdentity { makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino, born };
}

} // namespace Platform
