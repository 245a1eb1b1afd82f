#include "platform/platform.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace Platform {

namespace {

int descriptor(const FolderHandle& folder)
{
    return static_cast<int>(folder.native());
}

DIR* dirHandle(void* handle)
{
    return static_cast<DIR*>(handle);
}

int resultOf(int returnValue)
{
    return returnValue == 0 ? 0 : errno;
}

// O_PATH asks nothing of the folder's own permissions and, on FUSE, nothing of the daemon.
constexpr int folderOpenFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int listingOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

} // namespace

bool isSeparator(char c)
{
    return c == Separator;
}

QByteArray pathFromText(const QString& text)
{
    return QFile::encodeName(text);
}

QStringList commandLineArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    return arguments;
}

void printText(OutputStream stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream == OutputStream::Standard ? stdout : stderr);
}

namespace {

struct Mount
{
    QByteArray type;
    QByteArray source;
};

// The type and source of the file system mounted from `volume`, as /proc/self/mountinfo tells.
Mount mountOf(quint64 volume)
{
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    const QByteArray device = QByteArray::number(major(volume)) + ':' + QByteArray::number(minor(volume));
    // Files in /proc report no size, so they are read to the end rather than tested for it.
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        // "id parent major:minor root mount-point options [optional fields] - type source options"
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 2 && fields[2] == device && separator >= 0 && separator + 2 < fields.size())
            return { fields[separator + 1], fields[separator + 2] };
    }
    return {};
}

// Kernel drivers of volumes made for Windows, which store names in UTF-16 (statfs(2) f_type).
constexpr long fatMagic = 0x4d44;
constexpr long exfatMagic = 0x2011BAB0;
constexpr long ntfsMagic = 0x5346544e;
constexpr long ntfs3Magic = 0x7366746e;
constexpr long fuseMagic = 0x65735546;

bool ignoresCaseByType(long type)
{
    return type == fatMagic || type == exfatMagic;
}

// A FUSE driver of a disk or of a disk image, as those of FAT, exFAT and NTFS are, rather than of a
// network share or of another folder.
bool fuseOfDisk(const Mount& mount)
{
    if (mount.type.startsWith("fuseblk") || mount.type == "fuse.fusefat" || mount.type == "fuse.exfat")
        return true;
    struct stat status = {};
    return mount.source.startsWith('/') && ::stat(mount.source.constData(), &status) == 0
        && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

} // namespace

bool dropsFilesOnRefusedNames(quint64 volume)
{
    return mountOf(volume).type == "fuse.fusefat";
}

NameLimit nameLimit(const FolderHandle& folder)
{
    struct statfs status = {};
    if (!folder.isOpen() || fstatfs(descriptor(folder), &status) != 0)
        return {};
    const long type = static_cast<long>(status.f_type);
    // These report the longest name in bytes of the widest encoding, while the volume counts
    // UTF-16 units, of which it holds 255.
    if (ignoresCaseByType(type) || type == ntfsMagic || type == ntfs3Magic
        || (type == fuseMagic && fuseOfDisk(mountOf(folder.volume()))))
        return { 255, true };
    return { static_cast<int>(std::min<long>(status.f_namelen, 0x7fffffff)), false };
}

bool ignoresLetterCase(const FolderHandle& folder, const QByteArray& present)
{
    struct statfs status = {};
    if (folder.isOpen() && fstatfs(descriptor(folder), &status) == 0
        && ignoresCaseByType(static_cast<long>(status.f_type)))
        return true;
    // Elsewhere it depends on the driver and even on the folder (FUSE drivers of FAT and exFAT, a
    // case-folding ext4 folder), so the volume is asked whether it finds the name in other
    // letters. FUSE numbers a file anew for each name it is reached by, so a different number
    // only tells two files apart where the folder also lists the other name.
    QByteArray other = present;
    for (char& c : other) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (other == present)
        return false;
    const std::optional<FileIdentity> otherFile = entryIdentity(folder, other);
    if (!otherFile)
        return false;
    if (otherFile == entryIdentity(folder, present))
        return true;
    DirListing listing(folder);
    DirEntry entry;
    while (listing.next(entry)) {
        if (entry.name == QByteArrayView(other))
            return false;
    }
    return true;
}

bool systemRefusesName(QByteArrayView)
{
    // Linux refuses only the separator and NUL, which no name of a single entry holds.
    return false;
}

namespace {

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

// The freedesktop trash folders: ".Trash", shared by every user, and ".Trash-<uid>", one user's.
bool isTrashName(QByteArrayView name)
{
    if (name == QByteArrayView(".Trash"))
        return true;
    const QByteArrayView prefix(".Trash-");
    return name.size() > prefix.size() && name.startsWith(prefix)
        && std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

// 0 when `name` names an entry of `folder`, else the errno of the look-up. The file system itself is
// asked: a FUSE volume keeps answering from its cache for a while after a rename made it stale.
int lookUp(const FolderHandle& folder, const QByteArray& name)
{
    struct statx status = {};
    return resultOf(statx(descriptor(folder), name.constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
        STATX_TYPE, &status));
}

bool entryExists(const FolderHandle& folder, const QByteArray& name)
{
    return lookUp(folder, name) == 0;
}

std::optional<FileIdentity> entryIdentity(const FolderHandle& folder, const QByteArray& name)
{
    struct statx status = {};
    if (!folder.isOpen()
        || statx(descriptor(folder), name.constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
               STATX_INO | STATX_BTIME, &status)
            != 0)
        return std::nullopt;
    const quint64 born = (status.stx_mask & STATX_BTIME)
        ? quint64(status.stx_btime.tv_sec) * 1000000000u + status.stx_btime.tv_nsec
        : 0;
    return FileIdentity { makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino, born };
}

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    return resultOf(renameat2(
        descriptor(folder), from.constData(), descriptor(folder), to.constData(), RENAME_NOREPLACE));
}

int linkThenUnlink(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    // linkat() fails with EEXIST when the target exists, so nothing can be replaced; flags 0 links
    // a symbolic link itself rather than what it points to.
    if (linkat(descriptor(folder), from.constData(), descriptor(folder), to.constData(), 0) != 0)
        return errno;
    if (unlinkat(descriptor(folder), from.constData(), 0) != 0) {
        const int error = errno;
        unlinkat(
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
    return resultOf(renameat(descriptor(folder), from.constData(), descriptor(folder), to.constData()));
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
