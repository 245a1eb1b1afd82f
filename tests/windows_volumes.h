#pragma once

// The volumes the tests use on Windows: the local disk, answering through the layer's native calls as
// Windows' own FAT driver or ReFS would where a test asks for one.

#include "platform/windows/native_calls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Volumes are mounted from image files on Linux only. On Windows the tests use the local disk, and a
// "fat" volume is the local disk with the layer's native calls answering as Windows' own FAT and
// exFAT driver does (see FatDriver), where Wine and NTFS answer otherwise; a "refs" volume likewise
// answers file ids as ReFS does (see ReFsDriver). Only tests that name it use the latter.
class MountedVolume final
{
public:
    static QStringList kinds() { return { QStringLiteral("fat") }; }
};

// Windows' I/O manager, which for a rename or link to a full path or through RootDirectory first
// opens the target folder for adding a file, sharing read and write (IoCreateFile with
// SL_OPEN_TARGET_DIRECTORY; fastfat's FatOpenTargetDirectory), and fails the call as that open
// fails; a name alone with no RootDirectory opens nothing, and the file system renames the file
// within its own folder. Wine opens no target folder, and takes no name alone: it is handed the
// full path of the same entry.
namespace IoManager {

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    const auto* info = static_cast<const FILE_RENAME_INFO*>(information);
    if (asked != Platform::Native::fileRenameInformation && asked != Platform::Native::fileLinkInformation)
        return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
    const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
    const bool fullPath = name.starts_with(L'\\');
    if (!fullPath && !info->RootDirectory) {
        std::wstring path(32768, L'\0');
        path.resize(GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0));
        // "\\?\D:\photos\old.jpg" becomes "\??\D:\photos\" and the name.
        path = L"\\??\\" + path.substr(4, path.rfind(L'\\') + 1 - 4) + name;
        std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t));
        auto* full = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        full->ReplaceIfExists = info->ReplaceIfExists;
        full->RootDirectory = nullptr;
        full->FileNameLength = DWORD(path.size() * sizeof(wchar_t));
        std::copy(path.begin(), path.end(), full->FileName);
        return Platform::Native::systemCalls().setInformationFile(
            file, ioStatus, full, ULONG(buffer.size()), asked);
    }
    std::wstring folder = name;
    folder.resize(fullPath ? folder.rfind(L'\\') : 0);
    UNICODE_STRING folderName { USHORT(folder.size() * sizeof(wchar_t)),
        USHORT(folder.size() * sizeof(wchar_t)), folder.data() };
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &folderName, OBJ_CASE_INSENSITIVE, info->RootDirectory, nullptr);
    HANDLE target = nullptr;
    IO_STATUS_BLOCK openStatus = {};
    const NTSTATUS opened = Platform::Native::systemCalls().createFile(&target, FILE_ADD_FILE | SYNCHRONIZE,
        &attributes, &openStatus, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
        FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(opened))
        return opened;
    CloseHandle(target);
    return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
}

} // namespace IoManager

// Windows' FAT and exFAT driver, as its source in Microsoft's driver samples (filesys/fastfat,
// fileinfo.c) answers. FatCommonQueryInformation answers basic, standard, internal, EA, name,
// position, all, alternate-name, network-open and normalized-name information and refuses every
// other class, FileAttributeTagInformation and FileIdInformation among them, with
// STATUS_INVALID_PARAMETER; its standard information counts one link (FatQueryStandardInfo).
// FatCommonSetInformation takes basic, rename (through the I/O manager above: with RootDirectory it
// hands FAT the target folder it opened), disposition, position, allocation, end-of-file and
// valid-data-length information, refuses FileLinkInformation with STATUS_INVALID_DEVICE_REQUEST and
// every other class, FileDispositionInformationEx among them, with STATUS_INVALID_PARAMETER. It
// names its file system "FAT32" (FatQueryFsAttributeInfo).
//
// Its numbers: a file's or folder's number (internal information) is the byte offset on the volume
// of its short entry in its folder, and the root's is 0 (FatGenerateFileIdFromDirentOffset). A name
// takes one 32-byte entry where it fits 8.3 with each part in one letter case (FatEvaluateNameCase),
// else before that one an entry for each 13 UTF-16 units of the long name (FAT_LFN_DIRENTS_NEEDED);
// a folder's first two entries are "." and "..", which the root lacks. A rename to a name that
// takes another number of entries gives the file new entries and frees the old (FatSetRenameInfo),
// so its number changes. New entries, a new file's too, are those never used yet while the folder's
// clusters have room; once they are used up, the first run of freed entries from the lowest freed
// since (FatCreateNewDirent, from the DeletedDirentHint that FatDeleteDirent lowers), and only where
// there is none a new cluster. A cluster here holds 4 KiB, 128 entries, as Windows formats FAT32
// volumes of 256 MB to 8 GB. Files and folders are told apart here by their numbers under Wine,
// and what happened to them is seen each time their folder is read: entries are freed before new
// ones are taken.
//
// Its times: FAT keeps local times, which fastfat gives in UTC, converted with the time-zone bias in
// force when it reads them (FatFatTimeToNtTime); the root has no times of its own and is given 1
// January 1980 in local time, converted alike, for its creation, last access and last write; no
// file has a change time (FatQueryBasicInfo, FatQueryNetworkInfo). Here the times Wine gives stand
// for the local times the volume keeps, and are given converted with a bias that a test may change,
// to stand for a change of time zone or of daylight saving time: Wine's own time zone cannot be
// changed reliably under a running test.
//
// Tunnelling (Microsoft's KB 172190): a file's name leaving its folder, deleted or renamed away, is
// kept with its creation time in the volume's tunnel cache (FatTunnelFcbOrDcb), and a file given
// that name in that folder, made or renamed to it, within the cache's time (15 seconds unless
// MaximumTunnelEntryAgeInSeconds says otherwise) takes that creation time. Here the names stay
// tunnelled until a test lets that time pass (tunnelTimePasses()), since a test does not wait for it.
namespace FatDriver {

inline constexpr LONGLONG janOne1980 = 0x01a8e79fe1d58000; // FatJanOne1980, in FILETIME's units
inline constexpr LONGLONG minute = 60 * 10000000LL;
inline constexpr ULONGLONG entrySize = 32; // sizeof(DIRENT)
inline constexpr ULONGLONG folderRoom = 65536 * entrySize; // FatCreateNewDirent's most entries
inline constexpr ULONGLONG clusterEntries = 4096 / entrySize;
inline constexpr ULONGLONG noRun = ~ULONGLONG(0);

struct Entries
{
    ULONGLONG first = 0;
    ULONGLONG count = 0;
    std::wstring name;
    LONGLONG born = 0; // the creation time the volume keeps
};

struct Folder
{
    ULONGLONG offset = 0; // where its entries lie on the volume
    ULONGLONG neverUsed = 0; // its first entry never used yet (UnusedDirentVbo)
    ULONGLONG allocated = clusterEntries; // the entries its clusters hold
    ULONGLONG deletedHint = folderRoom; // its lowest entry freed since it was last taken; none yet
    std::map<ULONGLONG, Entries> files; // by Wine's number
    // The names that left it, in capitals, with which file left each and its creation time.
    std::map<std::wstring, std::pair<ULONGLONG, LONGLONG>> tunnelled;
};

struct Volume
{
    std::mutex lock; // the layer asks from the listing threads of a search too
    std::map<ULONGLONG, Folder> folders;
    ULONGLONG root = 0; // the folder that answers as the volume's root
    LONGLONG bias = 0; // in minutes: UTC is local time plus the bias, as TIME_ZONE_INFORMATION has it
    // Wine's numbers of the files whose creation time the volume keeps otherwise than Wine gives it:
    // a date of 0, or one tunnelled.
    std::map<ULONGLONG, LONGLONG> born;
};

inline Volume& volume()
{
    static Volume fat;
    return fat;
}

// A volume as it is after being mounted: no folder read yet, and the bias 0.
inline void mount()
{
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    fat.folders.clear();
    fat.root = 0;
    fat.bias = 0;
    fat.born.clear();
}

inline ULONGLONG wineNumber(HANDLE handle)
{
    Platform::Native::InternalInformation internal = {};
    IO_STATUS_BLOCK status = {};
    Platform::Native::systemCalls().queryInformationFile(
        handle, &status, &internal, sizeof internal, Platform::Native::fileInternalInformation);
    return static_cast<ULONGLONG>(internal.indexNumber.QuadPart);
}

inline HANDLE openFolder(const std::wstring& path)
{
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The folder at `path`, in the "\\?\" form, answers as the volume's root from now on.
inline void answerAsRoot(const std::wstring& path)
{
    const HANDLE folder = openFolder(path);
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    fat.root = wineNumber(folder);
    CloseHandle(folder);
}

// The file at `path`, in the "\\?\" form, was written with a creation date of 0, as some recorders
// and cameras write their files: fastfat gives it 1 January 1980 in local time, converted as any
// other time (FatGetDirTimes in dirctrl.c, and alike where it builds a file's FCB), so that every
// such file was made at one time.
inline void writtenWithoutCreationDate(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    fat.born[wineNumber(file)] = janOne1980;
    CloseHandle(file);
}

// The bias changes by `minutes`, as with a change of time zone or of daylight saving time.
inline void changeBias(LONGLONG minutes)
{
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    fat.bias += minutes;
}

inline ULONGLONG entriesFor(std::wstring_view name)
{
    const auto shortPart = [](std::wstring_view part, size_t longest) {
        bool upper = false;
        bool lower = false;
        for (const wchar_t c : part) {
            upper = upper || (c >= L'A' && c <= L'Z');
            lower = lower || (c >= L'a' && c <= L'z');
            const bool letterOrDigit
                = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
            if (!letterOrDigit && std::wstring_view(L"$%'-_@~`!(){}^#&").find(c) == std::wstring_view::npos)
                return false;
        }
        return part.size() <= longest && !(upper && lower);
    };
    const size_t dot = name.find(L'.');
    const std::wstring_view base = name.substr(0, dot);
    const std::wstring_view extension = dot == name.npos ? std::wstring_view() : name.substr(dot + 1);
    if (!base.empty() && shortPart(base, 8) && shortPart(extension, 3))
        return 1;
    return 1 + (name.size() + 12) / 13;
}

inline std::wstring capitals(std::wstring_view name)
{
    std::wstring upper(name);
    CharUpperBuffW(upper.data(), DWORD(upper.size()));
    return upper;
}

// The first run of `count` entries of `folder` that no file holds, looked for from its lowest freed
// entry to the end of its clusters and then from their start (RtlFindClearBits); noRun if none.
inline ULONGLONG freedRun(const Folder& folder, const std::vector<bool>& held, ULONGLONG count)
{
    const ULONGLONG from = folder.deletedHint < folder.allocated ? folder.deletedHint : 0;
    for (const auto& [begin, end] : { std::pair(from, folder.allocated), std::pair(ULONGLONG(0), from) }) {
        ULONGLONG run = 0;
        for (ULONGLONG entry = begin; entry < end; ++entry) {
            run = entry < held.size() && held[entry] ? 0 : run + 1;
            if (run == count)
                return entry + 1 - count;
        }
    }
    return noRun;
}

// The entries of the folder at `path` as it holds its files now: a file gone has left its entries
// and its name, one renamed to a name of another number of entries has taken new ones, and a new
// file has taken new entries and, where its name was tunnelled, the creation time tunnelled with it.
inline const Folder& readFolder(Volume& fat, const std::wstring& path)
{
    const HANDLE handle = openFolder(path);
    const ULONGLONG number = wineNumber(handle);
    const auto [found, isNew] = fat.folders.try_emplace(number);
    Folder& folder = found->second;
    if (isNew) {
        folder.offset = fat.folders.size() * folderRoom;
        folder.neverUsed = number == fat.root ? 0 : 2;
    }
    std::map<ULONGLONG, Entries> files;
    std::vector<std::pair<ULONGLONG, Entries>> arrived;
    std::vector<char> buffer(64 * 1024);
    for (FILE_INFO_BY_HANDLE_CLASS listing = FileIdBothDirectoryRestartInfo;
         GetFileInformationByHandleEx(handle, listing, buffer.data(), DWORD(buffer.size()));
         listing = FileIdBothDirectoryInfo) {
        for (auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());;
             entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
                 reinterpret_cast<const char*>(entry) + entry->NextEntryOffset)) {
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
            const auto file = static_cast<ULONGLONG>(entry->FileId.QuadPart);
            const auto kept = fat.born.find(file);
            const LONGLONG born = kept != fat.born.end() ? kept->second : entry->CreationTime.QuadPart;
            const auto known = folder.files.find(file);
            // "." and ".." are kept in the folder's first two entries.
            if (name != L"." && name != L"..") {
                if (known != folder.files.end() && known->second.count == entriesFor(name))
                    files[file] = { known->second.first, known->second.count, name, born };
                else
                    arrived.push_back({ file, { 0, entriesFor(name), name, born } });
            }
            if (entry->NextEntryOffset == 0)
                break;
        }
    }
    CloseHandle(handle);
    // What left: its entries freed, its name tunnelled.
    for (const auto& [file, was] : folder.files) {
        const auto now = files.find(file);
        if (now == files.end()) {
            if (was.first + was.count - 1 < folder.deletedHint)
                folder.deletedHint = was.first;
        }
        if (now == files.end() || now->second.name != was.name)
            folder.tunnelled[capitals(was.name)] = { file, was.born };
    }
    std::vector<bool> held(folder.allocated);
    if (number != fat.root)
        held[0] = held[1] = true;
    const auto hold = [&held](const Entries& entries) {
        if (held.size() < entries.first + entries.count)
            held.resize(entries.first + entries.count);
        std::fill_n(held.begin() + LONGLONG(entries.first), entries.count, true);
    };
    for (const auto& [file, entries] : files)
        hold(entries);
    for (auto& [file, entries] : arrived) {
        const ULONGLONG freed = freedRun(folder, held, entries.count);
        if (folder.neverUsed + entries.count <= folder.allocated || freed == noRun) {
            if (folder.neverUsed + entries.count > folder.allocated)
                folder.allocated += clusterEntries;
            entries.first = folder.neverUsed;
            folder.neverUsed += entries.count;
        } else {
            entries.first = freed;
            if (freed == folder.deletedHint)
                folder.deletedHint += entries.count;
            folder.neverUsed = std::max(folder.neverUsed, freed + entries.count);
        }
        hold(entries);
        files[file] = entries;
    }
    // What came under a tunnelled name, newly or renamed, takes the time tunnelled with it; a file
    // given back its own name keeps its time as it is. Wine may give a new file the number of one
    // just deleted: a time kept for that one would stay with the number.
    for (auto& [file, entries] : files) {
        const auto was = folder.files.find(file);
        const auto tunnel = folder.tunnelled.find(capitals(entries.name));
        if ((was == folder.files.end() || was->second.name != entries.name)
            && tunnel != folder.tunnelled.end()) {
            if (tunnel->second.first != file)
                entries.born = fat.born[file] = tunnel->second.second;
            folder.tunnelled.erase(tunnel);
        }
    }
    folder.files = std::move(files);
    return folder;
}

// The folder at `path`, in the "\\?\" form, as it is now, is seen by the volume, and the time names
// stay tunnelled passes.
inline void tunnelTimePasses(const std::wstring& path)
{
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    readFolder(fat, path);
    for (auto& [number, folder] : fat.folders)
        folder.tunnelled.clear();
}

// How many entries the clusters of the folder at `path`, in the "\\?\" form, have never used.
inline ULONGLONG entriesNeverUsed(const std::wstring& path)
{
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    const Folder& folder = readFolder(fat, path);
    return folder.allocated - folder.neverUsed;
}

// The open file's number; false where its folder no longer lists it.
inline bool numberOf(Volume& fat, HANDLE handle, ULONGLONG& number)
{
    const ULONGLONG file = wineNumber(handle);
    number = 0;
    if (file == fat.root)
        return true;
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0));
    const size_t cut = path.rfind(L'\\');
    path.resize(path[cut - 1] == L':' ? cut + 1 : cut); // "\\?\D:\" keeps its separator
    const Folder& folder = readFolder(fat, path);
    const auto found = folder.files.find(file);
    if (found == folder.files.end())
        return false;
    number = folder.offset + (found->second.first + found->second.count - 1) * entrySize;
    return true;
}

inline void convertTimes(const Volume& fat, HANDLE handle, LARGE_INTEGER& creation, LARGE_INTEGER& lastAccess,
    LARGE_INTEGER& lastWrite, LARGE_INTEGER& change)
{
    if (wineNumber(handle) == fat.root)
        creation.QuadPart = lastAccess.QuadPart = lastWrite.QuadPart = janOne1980;
    else if (const auto kept = fat.born.find(wineNumber(handle)); kept != fat.born.end())
        creation.QuadPart = kept->second;
    for (LARGE_INTEGER* time : { &creation, &lastAccess, &lastWrite }) {
        if (time->QuadPart != 0) // a time the volume does not have stays 0
            time->QuadPart += fat.bias * minute;
    }
    change.QuadPart = 0;
}

inline bool answers(FILE_INFORMATION_CLASS asked, std::initializer_list<int> classes)
{
    return std::find(classes.begin(), classes.end(), static_cast<int>(asked)) != classes.end();
}

inline NTSTATUS NTAPI queryInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    using namespace Platform::Native;
    if (!answers(asked, { 4, 5, 6, 7, 9, 14, 18, 21, 34, 48 }))
        return statusInvalidParameter;
    const NTSTATUS status = systemCalls().queryInformationFile(file, ioStatus, information, length, asked);
    if (!NT_SUCCESS(status))
        return status;
    Volume& fat = volume();
    const std::lock_guard held(fat.lock);
    if (asked == fileStandardInformation) {
        static_cast<StandardInformation*>(information)->numberOfLinks = 1;
    } else if (asked == fileInternalInformation) {
        ULONGLONG number = 0;
        // Not listed: deleted, its name going as its last handle closes.
        if (!numberOf(fat, file, number))
            return statusDeletePending;
        static_cast<InternalInformation*>(information)->indexNumber.QuadPart = LONGLONG(number);
    } else if (asked == fileBasicInformation) {
        auto* basic = static_cast<BasicInformation*>(information);
        convertTimes(
            fat, file, basic->creationTime, basic->lastAccessTime, basic->lastWriteTime, basic->changeTime);
    } else if (asked == fileNetworkOpenInformation) {
        auto* open = static_cast<NetworkOpenInformation*>(information);
        convertTimes(
            fat, file, open->creationTime, open->lastAccessTime, open->lastWriteTime, open->changeTime);
    }
    return status;
}

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileLinkInformation)
        return Platform::Native::statusInvalidDeviceRequest;
    if (!answers(asked, { 4, 10, 13, 14, 19, 20, 39 }))
        return Platform::Native::statusInvalidParameter;
    if (asked != Platform::Native::fileRenameInformation)
        return IoManager::setInformationFile(file, ioStatus, information, length, asked);
    // The folder read before the rename and after it, so that the file is seen to take new entries.
    Volume& fat = volume();
    ULONGLONG number = 0;
    {
        const std::lock_guard held(fat.lock);
        numberOf(fat, file, number);
    }
    const NTSTATUS status = IoManager::setInformationFile(file, ioStatus, information, length, asked);
    const std::lock_guard held(fat.lock);
    numberOf(fat, file, number);
    return status;
}

// The name the driver gives its file system: "FAT32" (FatQueryFsAttributeInfo), or "exFAT".
inline std::wstring_view fileSystemName = L"FAT32";

inline NTSTATUS NTAPI queryVolumeInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, ULONG asked)
{
    using Platform::Native::FsAttributeInformation;
    if (asked != Platform::Native::fileFsAttributeInformation)
        return Platform::Native::systemCalls().queryVolumeInformationFile(
            file, ioStatus, information, length, asked);
    const std::wstring_view name = fileSystemName;
    const auto needed = ULONG(offsetof(FsAttributeInformation, fileSystemName) + name.size() * sizeof(WCHAR));
    if (length < needed)
        return Platform::Native::statusInvalidParameter;
    auto* attributes = static_cast<FsAttributeInformation*>(information);
    attributes->fileSystemAttributes = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    attributes->maximumComponentNameLength = 255;
    attributes->fileSystemNameLength = ULONG(name.size() * sizeof(WCHAR));
    std::memcpy(static_cast<char*>(information) + offsetof(FsAttributeInformation, fileSystemName),
        name.data(), name.size() * sizeof(WCHAR));
    ioStatus->Information = needed;
    return 0;
}

} // namespace FatDriver

// ReFS, as [MS-FSCC] documents it: FileIdInformation gives each file a 128-bit id, unique on the
// volume, while its 64-bit index is not unique (BY_HANDLE_FILE_INFORMATION's documentation) and may
// be all ones, which 2.1.9 says means no unique id. Here every file's id shares one lower half, so
// that only the upper half, which Wine's own number fills, tells two files apart.
namespace ReFsDriver {

inline constexpr ULONGLONG sharedLowerHalf = 0x5eed;

inline NTSTATUS NTAPI queryInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    const NTSTATUS status
        = Platform::Native::systemCalls().queryInformationFile(file, ioStatus, information, length, asked);
    if (!NT_SUCCESS(status))
        return status;
    if (asked == Platform::Native::fileIdInformation) {
        auto* id = static_cast<Platform::Native::IdInformation*>(information);
        id->fileIdHigh = id->fileIdLow;
        id->fileIdLow = sharedLowerHalf;
    } else if (asked == Platform::Native::fileInternalInformation) {
        static_cast<Platform::Native::InternalInformation*>(information)->indexNumber.QuadPart = -1;
    }
    return status;
}

} // namespace ReFsDriver

// A volume that gives its files no number: [MS-FSCC] 2.4.22 has FileInternalInformation answer 0
// there, to be ignored, as WinFsp's SSHFS does, which refuses FileIdInformation as well (answered
// here as fastfat refuses a class it lacks, STATUS_INVALID_PARAMETER).
namespace NoFileIds {

inline NTSTATUS NTAPI queryInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileIdInformation)
        return Platform::Native::statusInvalidParameter;
    const NTSTATUS status
        = Platform::Native::systemCalls().queryInformationFile(file, ioStatus, information, length, asked);
    if (NT_SUCCESS(status) && asked == Platform::Native::fileInternalInformation)
        static_cast<Platform::Native::InternalInformation*>(information)->indexNumber.QuadPart = 0;
    return status;
}

} // namespace NoFileIds

// Windows' exFAT driver, as far as it is documented: its times and refusals as FAT's (see
// FatDriver), and, since no public source shows what it answers for a file's number and exFAT's own
// format defines none, no numbers, as [MS-FSCC] 2.4.22 lets a volume answer. With no numbers
// to give, its entries are not followed either: FatDriver lists the whole folder for each number it
// gives, which over a folder of thousands of files would be most of a test's time.
namespace ExFatDriver {

inline NTSTATUS NTAPI queryInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked != Platform::Native::fileInternalInformation)
        return FatDriver::queryInformationFile(file, ioStatus, information, length, asked);
    const NTSTATUS status
        = Platform::Native::systemCalls().queryInformationFile(file, ioStatus, information, length, asked);
    if (NT_SUCCESS(status))
        static_cast<Platform::Native::InternalInformation*>(information)->indexNumber.QuadPart = 0;
    return status;
}

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation)
        return IoManager::setInformationFile(file, ioStatus, information, length, asked);
    return FatDriver::setInformationFile(file, ioStatus, information, length, asked);
}

} // namespace ExFatDriver

// An installed file-system driver that takes a relative name, with RootDirectory or without, as one
// in another folder (`folder`), and refuses every full path with STATUS_ACCESS_DENIED: a file it
// renames cannot be moved back.
namespace ElsewhereDriver {

inline HANDLE folder = nullptr;

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    auto* info = static_cast<FILE_RENAME_INFO*>(information);
    if (asked == Platform::Native::fileRenameInformation || asked == Platform::Native::fileLinkInformation) {
        if (info->FileNameLength > 0 && info->FileName[0] == L'\\')
            return static_cast<NTSTATUS>(0xC0000022); // STATUS_ACCESS_DENIED
        info->RootDirectory = folder;
    }
    return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
}

} // namespace ElsewhereDriver

// A file a program has mapped (a viewer, an indexer): NTFS refuses to delete any of its names, by
// either class, with STATUS_CANNOT_DELETE (FILE_DISPOSITION_INFORMATION_EX: "the file is read only,
// or there's an existing mapped view to the file"). The refusal is answered here, through the
// native-call table, rather than left to how Wine treats a mapping.
namespace MappedFile {

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileDispositionInformation
        || asked == Platform::Native::fileDispositionInformationEx)
        return Platform::Native::statusCannotDelete;
    return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
}

} // namespace MappedFile

// A cloud drive's folder (OneDrive and the like), whose cloud filter answers a rename or a link of a
// placeholder with `status`, as [MS-ERREF] 2.3.1 names its answers: Wine has no cloud filter.
namespace CloudFilter {

inline NTSTATUS status = 0;

inline NTSTATUS NTAPI setInformationFile(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation || asked == Platform::Native::fileLinkInformation)
        return status;
    return Platform::Native::systemCalls().setInformationFile(file, ioStatus, information, length, asked);
}

} // namespace CloudFilter

class Volumes final
{
public:
    static bool root(const QString& kind, QByteArray& root, QString& whyNot)
    {
        root.clear();
        whyNot = QStringLiteral("volumes are mounted on Linux only");
        return kind == QStringLiteral("local") || kind == QStringLiteral("fat")
            || kind == QStringLiteral("exfat") || kind == QStringLiteral("refs");
    }
    static void unmountAll() { }
    static bool unmount(const QString&) { return false; }

    // While it lives, the native calls answer as the volume of `kind` does, and as the local disk
    // does again afterwards.
    class Answers final
    {
    public:
        explicit Answers(const QString& kind)
            : m_kind(kind)
        {
            FatDriver::fileSystemName = L"FAT32";
            if (kind == QStringLiteral("exfat")) {
                FatDriver::mount();
                FatDriver::fileSystemName = L"exFAT";
                Platform::Native::calls.queryInformationFile = ExFatDriver::queryInformationFile;
                Platform::Native::calls.setInformationFile = ExFatDriver::setInformationFile;
                Platform::Native::calls.queryVolumeInformationFile = FatDriver::queryVolumeInformationFile;
            }
            if (kind == QStringLiteral("fat")) {
                FatDriver::mount();
                Platform::Native::calls.queryInformationFile = FatDriver::queryInformationFile;
                Platform::Native::calls.setInformationFile = FatDriver::setInformationFile;
                Platform::Native::calls.queryVolumeInformationFile = FatDriver::queryVolumeInformationFile;
            }
            if (kind == QStringLiteral("refs"))
                Platform::Native::calls.queryInformationFile = ReFsDriver::queryInformationFile;
        }
        ~Answers() { Platform::Native::calls = Platform::Native::systemCalls(); }
        Q_DISABLE_COPY_MOVE(Answers)

        const QString& kind() const { return m_kind; }

    private:
        QString m_kind;
    };
};
