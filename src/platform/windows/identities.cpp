// Which file or folder a handle holds, asked through the native calls: its number on its volume, and
// what tells it from one put in its place.
#include "internal.h"

#include <QHash>
#include <QStringView>

#include <array>
#include <string_view>
#include <utility>

namespace Platform {

namespace Windows {

namespace {

// [MS-FSCC] 2.1.9 and 2.1.10: an id of 0 means the file system keeps none, and one of all ones that
// it could not give this file a unique one; either must be ignored.
constexpr quint64 allOnes = ~quint64(0);

bool isFileId(quint64 index)
{
    return index != 0 && index != allOnes;
}

bool isFileId(quint64 low, quint64 high)
{
    return (low != 0 || high != 0) && (low != allOnes || high != allOnes);
}

// The file's number on its volume, 128 bits wide where the volume gives one that wide (ReFS and Dev
// Drives, whose 64-bit index is not unique); {0, 0} where the volume gives none. FileIdInformation is
// answered by NTFS and ReFS, and Wine answers it with the inode number; Windows' FAT driver refuses
// it with STATUS_INVALID_PARAMETER but answers FileInternalInformation, the 64-bit number, as NTFS
// does: there the byte offset of the file's entry on the volume, and 0 for the root
// (FatGenerateFileIdFromFcb). `volume` is set only from a 128-bit id.
std::pair<quint64, quint64> fileNumber(HANDLE handle, quint64* volume = nullptr)
{
    Native::IdInformation id = {};
    if (NT_SUCCESS(queryInformation(handle, id, Native::fileIdInformation))
        && isFileId(id.fileIdLow, id.fileIdHigh)) {
        if (volume)
            *volume = id.volumeSerialNumber;
        return { id.fileIdLow, id.fileIdHigh };
    }
    Native::InternalInformation internal = {};
    if (NT_SUCCESS(queryInformation(handle, internal, Native::fileInternalInformation))
        && isFileId(static_cast<quint64>(internal.indexNumber.QuadPart)))
        return { static_cast<quint64>(internal.indexNumber.QuadPart), 0 };
    return {};
}

} // namespace

bool hasFileNumber(HANDLE handle)
{
    return fileNumber(handle) != std::pair<quint64, quint64>();
}

bool sameFile(HANDLE first, HANDLE second)
{
    const auto number = fileNumber(first);
    return number != std::pair<quint64, quint64>() && number == fileNumber(second);
}

namespace {

// A volume information class's answer, with room for the name or label it ends with.
template <typename Information> struct VolumeAnswer
{
    alignas(Information) std::array<char, sizeof(Information) + MAX_PATH * sizeof(WCHAR)> buffer;

    bool ask(HANDLE handle, ULONG informationClass)
    {
        IO_STATUS_BLOCK status = {};
        return NT_SUCCESS(Native::calls.queryVolumeInformationFile(
            handle, &status, buffer.data(), static_cast<ULONG>(buffer.size()), informationClass));
    }
    const Information& operator*() const { return *reinterpret_cast<const Information*>(buffer.data()); }
};

// The volume's serial number, as GetFileInformationByHandle gives it: FileFsVolumeInformation's,
// which fastfat answers too (FatQueryFsVolumeInfo). 0 where the volume does not answer, as Wine does
// not for a drive added while it runs; GetFileInformationByHandle gives 0 there too.
quint64 volumeSerial(HANDLE handle)
{
    VolumeAnswer<Native::FsVolumeInformation> volume;
    return volume.ask(handle, Native::fileFsVolumeInformation) ? (*volume).volumeSerialNumber : 0;
}

// Whether the volume is FAT or exFAT, by the name its driver gives its file system: fastfat answers
// "FAT" or "FAT32" (FatQueryFsAttributeInfo), and Windows' exFAT driver "exFAT".
bool onFat(HANDLE handle)
{
    VolumeAnswer<Native::FsAttributeInformation> attributes;
    if (!attributes.ask(handle, Native::fileFsAttributeInformation))
        return false;
    const std::wstring_view name(
        (*attributes).fileSystemName, (*attributes).fileSystemNameLength / sizeof(WCHAR));
    return name == L"FAT" || name == L"FAT32" || name == L"exFAT";
}

} // namespace

bool identityOf(HANDLE folder, FolderIdentity& identity)
{
    quint64 volume = 0;
    const auto [low, high] = fileNumber(folder, &volume);
    identity = { volume != 0 ? volume : volumeSerial(folder), low, high, 0, onFat(folder) };
    if (low != 0 || high != 0)
        return true;
    // The root of FAT and exFAT has no number, nor has a folder of some network file systems: the
    // path the folder now resolves to stands in, with the time it was made, so that another folder,
    // or a junction to one, put in its place still differs. fastfat gives its root none of its own
    // but 1 January 1980 in local time, converted as any other (FatQueryNetworkInfo).
    Native::NetworkOpenInformation times = {};
    if (!NT_SUCCESS(queryInformation(folder, times, Native::fileNetworkOpenInformation)))
        return false;
    const std::wstring resolved = finalPath(folder);
    const QStringView path(reinterpret_cast<const char16_t*>(resolved.data()), qsizetype(resolved.size()));
    identity.index = qHash(path) | 1; // never 0, which stands for no folder
    identity.born = static_cast<quint64>(times.creationTime.QuadPart);
    return true;
}

} // namespace Windows

using namespace Windows;

std::optional<FileIdentity> entryIdentity(const FolderHandle& folder, const QByteArray& name)
{
    ScopedHandle entry;
    if (!folder.isOpen()
        || !NT_SUCCESS(openRelative(handleOf(folder), wide(name), FILE_READ_ATTRIBUTES, 0, *entry.out())))
        return std::nullopt;
    // Documented: the volume's serial number and the file's id together name one file on this
    // computer, though FAT makes the id from where the entry lies in its folder, so a new file in
    // a removed one's place gets its id; the creation time tells them apart, and on FAT and exFAT
    // the size too (see stillSameFile()). The id is the 128-bit one where the volume gives it (ReFS,
    // whose 64-bit index is not unique). A file system that gives no id (some network ones,
    // [MS-FSCC] 2.4.22) tells its files by what it does give, the creation time and the size; one
    // that gives no creation time either cannot tell them. The entry lies on its folder's volume:
    // it is opened without following a link.
    // FileNetworkOpenInformation gives the times, in UTC, and the size at once ([MS-FSA]
    // 2.1.5.12.21); NtQueryFullAttributesFile, and so GetFileAttributesEx, asks every file system
    // for it.
    const auto [index, indexHigh] = fileNumber(entry.get());
    Native::NetworkOpenInformation times = {};
    const bool numbered = index != 0 || indexHigh != 0;
    if (!NT_SUCCESS(queryInformation(entry.get(), times, Native::fileNetworkOpenInformation))
        || (!numbered && times.creationTime.QuadPart == 0))
        return std::nullopt;
    FileIdentity identity { folder.volume(), index, static_cast<quint64>(times.creationTime.QuadPart),
        indexHigh };
    if (folder.identity().fat || !numbered)
        identity.size = static_cast<quint64>(times.endOfFile.QuadPart);
    identity.fat = folder.identity().fat;
    return identity;
}

} // namespace Platform
