// A file's second names: one a move left beside the first, or a driver made in another folder,
// taken away again, and never the file's only name.
#include "internal.h"
#include "platform/file_bytes.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace Platform {

namespace Windows {

namespace {

bool disposalRefused(NTSTATUS status)
{
    return status == Native::statusInvalidInfoClass || status == Native::statusInvalidParameter
        || status == Native::statusNotImplemented || status == Native::statusNotSupported;
}

} // namespace

// Deletes the name the open file was opened by; its other names stay. Windows 10 1809 and later
// take FileDispositionInformationEx with POSIX semantics (the name goes as the handle closes, even
// while another program holds the file open) and IGNORE_READONLY_ATTRIBUTE, since read-only belongs
// to the file, which keeps its other name. Earlier systems refuse that class or flag, Wine 8 answers
// STATUS_NOT_IMPLEMENTED, and Windows' FAT driver STATUS_INVALID_PARAMETER: they are asked the plain
// FileDispositionInformation, which refuses a read-only file with STATUS_CANNOT_DELETE.
int deleteOpenName(HANDLE file)
{
    IO_STATUS_BLOCK status = {};
    Native::DispositionInformationEx posix { Native::dispositionDelete | Native::dispositionPosixSemantics
        | Native::dispositionIgnoreReadOnlyAttribute };
    NTSTATUS result = Native::calls.setInformationFile(
        file, &status, &posix, sizeof posix, Native::fileDispositionInformationEx);
    if (disposalRefused(result)) {
        Native::DispositionInformation plain { TRUE };
        result = Native::calls.setInformationFile(
            file, &status, &plain, sizeof plain, Native::fileDispositionInformation);
    }
    return errnoOfStatus(result);
}

// Takes the name `name` of `folder` away from the open file `file` again, while it still is that
// file and not one another program put there meanwhile. Should that fail, the file keeps both
// names, never neither: false then.
bool unlinkIfSameFile(HANDLE file, HANDLE folder, const std::wstring& name)
{
    ScopedHandle link;
    const NTSTATUS opened = openRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES, 0, *link.out());
    // A name another program is deleting is on its way out as well.
    if (!NT_SUCCESS(opened))
        return errnoOfStatus(opened) == ENOENT || errnoOfStatus(opened) == deletePending;
    return !sameFile(file, link.get()) || deleteOpenName(link.get()) == 0;
}

// Takes away the names `name` that the open file `file` has in folders other than `folder`, where a
// driver that ignores RootDirectory may have made a link. NTFS lists a file's names, each with the
// number of its folder (FileHardLinkInformation: FILE_LINKS_INFORMATION, ntifs.h), and opens a
// folder by that number relative to any handle on the volume (NtCreateFile with
// FILE_OPEN_BY_FILE_ID, the number's 8 bytes as the name). A volume that keeps no links (fastfat)
// refuses the class, and has no name to take.
void unlinkElsewhere(HANDLE file, const FolderHandle& folder, const std::wstring& name)
{
    alignas(Native::LinksInformation) std::array<char, 16 * 1024> buffer;
    IO_STATUS_BLOCK status = {};
    if (!NT_SUCCESS(Native::calls.queryInformationFile(file, &status, buffer.data(),
            static_cast<ULONG>(buffer.size()), Native::fileHardLinkInformation)))
        return;
    const auto* links = reinterpret_cast<const Native::LinksInformation*>(buffer.data());
    for (const auto* link = &links->entry; links->entriesReturned > 0;
         link = reinterpret_cast<const Native::LinkEntryInformation*>(
             reinterpret_cast<const char*>(link) + link->nextEntryOffset)) {
        const std::wstring linkName(link->fileName, link->fileNameLength);
        std::wstring parentId(sizeof link->parentFileId / sizeof(wchar_t), L'\0');
        std::memcpy(parentId.data(), &link->parentFileId, sizeof link->parentFileId);
        ScopedHandle parent;
        if (sameIgnoringCase(linkName, name)
            && NT_SUCCESS(openRelative(handleOf(folder), parentId, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                FILE_DIRECTORY_FILE | FILE_OPEN_BY_FILE_ID, *parent.out()))
            && !sameFile(parent.get(), handleOf(folder)))
            unlinkIfSameFile(file, parent.get(), name);
        if (link->nextEntryOffset == 0)
            break;
    }
}

} // namespace Windows

using namespace Windows;

namespace {

// Whether the files open as `first` and `second` hold the same bytes.
bool sameFileBytes(HANDLE first, HANDLE second)
{
    Native::StandardInformation firstSize = {};
    Native::StandardInformation secondSize = {};
    if (!NT_SUCCESS(queryInformation(first, firstSize, Native::fileStandardInformation))
        || !NT_SUCCESS(queryInformation(second, secondSize, Native::fileStandardInformation))
        || firstSize.directory || secondSize.directory
        || firstSize.endOfFile.QuadPart != secondSize.endOfFile.QuadPart)
        return false;
    const auto reading = [](HANDLE file) {
        return [file](char* buffer, qint64 size) -> qint64 {
            DWORD got = 0;
            return ReadFile(file, buffer, DWORD(size), &got, nullptr) ? qint64(got) : -1;
        };
    };
    return sameBytes(reading(first), reading(second));
}

} // namespace

int removeSecondName(const FolderHandle& folder, const QByteArray& name, const QByteArray& kept)
{
    // The name compared is the name deleted: it is deleted through the handle that read it.
    ScopedHandle named;
    ScopedHandle other;
    NTSTATUS opened = openRelative(handleOf(folder), wide(name),
        DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_NON_DIRECTORY_FILE, *named.out());
    if (NT_SUCCESS(opened))
        opened = openRelative(handleOf(folder), wide(kept), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
            FILE_NON_DIRECTORY_FILE, *other.out());
    if (!NT_SUCCESS(opened))
        return errnoOfStatus(opened);
    // Two entries, each holding its name as given: a volume ignoring letter case reaches one entry by
    // either spelling, which is then no second name.
    if (!sameFileBytes(named.get(), other.get()) || storedName(handleOf(folder), wide(name)) != name
        || storedName(handleOf(folder), wide(kept)) != kept)
        return EEXIST;
    return deleteOpenName(named.get());
}

} // namespace Platform
