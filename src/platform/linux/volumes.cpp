// Volumes: which file system holds a folder, how long its names may be, whether it ignores letter
// case, and whether it loses files on names it refuses.
#include "internal.h"

#include <QFile>
#include <QHash>
#include <QList>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace Platform {

using namespace Linux;

namespace {

struct Mount
{
    QByteArray type;
    QByteArray source;
};

// The type and source of the first mount in /proc/self/mountinfo whose field `field` (0: its id,
// 2: its device) is `value`.
Mount mountWhere(int field, const QByteArray& value)
{
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    // Files in /proc report no size, so they are read to the end rather than tested for it.
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        // "id parent major:minor root mount-point options [optional fields] - type source options"
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() > 2 && fields[field] == value && separator >= 0 && separator + 2 < fields.size())
            return { fields[separator + 1], fields[separator + 2] };
    }
    return {};
}

// The type and source of the file system mounted from `volume`.
Mount mountOf(quint64 volume)
{
    return mountWhere(2, QByteArray::number(major(volume)) + ':' + QByteArray::number(minor(volume)));
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

// File systems of a disk that only its kernel driver changes while it is mounted.
bool diskFileSystem(const QByteArray& type)
{
    static constexpr std::array<QByteArrayView, 16> types { "ext2", "ext3", "ext4", "btrfs", "xfs", "vfat",
        "msdos", "exfat", "ntfs", "ntfs3", "f2fs", "jfs", "hfsplus", "udf", "iso9660", "tmpfs" };
    return std::find(types.begin(), types.end(), QByteArrayView(type)) != types.end();
}

} // namespace

namespace Linux {

bool changedOnlyHere(quint64 mountId)
{
    // Asked before every move: /proc/self/mountinfo is read once a mount. An id is given again only
    // once its mount has gone, and then at worst a volume is asked more often than it needs.
    static std::mutex mutex;
    static QHash<quint64, bool> known;
    const std::lock_guard lock(mutex);
    const auto found = known.constFind(mountId);
    if (found != known.cend())
        return *found;
    const Mount mount = mountWhere(0, QByteArray::number(mountId));
    const bool here = diskFileSystem(mount.type) || (mount.type.startsWith("fuse") && fuseOfDisk(mount));
    known.insert(mountId, here);
    return here;
}

} // namespace Linux

// renameat2 and linkat name the folder themselves: a file never lands elsewhere.
QByteArray takePlacedElsewhere()
{
    return {};
}

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

FolderRefusal folderRefusal(const FolderHandle& folder)
{
    struct statvfs volume = {};
    if (::fstatvfs(descriptor(folder), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0)
        return FolderRefusal::ReadOnlyVolume;
    // Adding or removing a name takes write and search permission on the folder; the kernel also
    // refuses write access to an immutable folder, even to root. The folder is held as an O_PATH
    // descriptor, which faccessat2 answers for with AT_EMPTY_PATH. A system that cannot answer says
    // nothing against the folder: its moves then tell.
    if (::faccessat(descriptor(folder), "", W_OK | X_OK, AT_EMPTY_PATH | AT_EACCESS) != 0
        && (errno == EACCES || errno == EPERM))
        return FolderRefusal::NoPermission;
    return FolderRefusal::None;
}

} // namespace Platform
