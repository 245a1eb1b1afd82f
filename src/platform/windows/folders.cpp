// Folders: handles, opening one beneath another, and listings.
#include "internal.h"

#include <cstring>
#include <vector>

namespace Platform {

namespace Windows {

NTSTATUS openRelative(
    HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG options, HANDLE& handle)
{
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK status = {};
    handle = nullptr;
    return Native::calls.createFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, 0,
        shareEverything, FILE_OPEN,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
        nullptr, 0);
}

std::wstring finalPath(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(
        handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    path.resize(length < path.size() ? length : 0);
    return path;
}

} // namespace Windows

using namespace Windows;

namespace {

// Whether an entry leads somewhere else: a junction, a symbolic link, or any other reparse point
// that stands for another name. Folders that are reparse points for other reasons, such as those
// a cloud drive keeps on demand, are folders like any other.
bool redirects(DWORD attributes, DWORD reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

// Whether the open folder leads somewhere else. Its attributes come from FileBasicInformation, which
// every file system answers, and its reparse tag only when they say it has one: Windows' FAT and
// exFAT drivers, which keep no reparse points, refuse FileAttributeTagInformation with
// STATUS_INVALID_PARAMETER (fastfat's FatCommonQueryInformation). A tag that cannot be read counts
// as leading elsewhere.
bool leadsElsewhere(HANDLE folder)
{
    Native::BasicInformation basic = {};
    if (!NT_SUCCESS(queryInformation(folder, basic, Native::fileBasicInformation)))
        return true;
    if (!(basic.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    Native::AttributeTagInformation tag = {};
    return !NT_SUCCESS(queryInformation(folder, tag, Native::fileAttributeTagInformation))
        || redirects(tag.fileAttributes, tag.reparseTag);
}

// Enough to list a folder and to open and rename what lies in it by name relative to it.
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// A folder below `parent`, as long as it is a real folder and does not lead somewhere else.
HANDLE openSubfolder(HANDLE parent, const std::wstring& name)
{
    HANDLE handle = nullptr;
    if (!NT_SUCCESS(openRelative(parent, name, folderAccess, FILE_DIRECTORY_FILE, handle)))
        return INVALID_HANDLE_VALUE;
    if (leadsElsewhere(handle)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

bool isDirectory(HANDLE handle)
{
    Native::BasicInformation basic = {};
    return NT_SUCCESS(queryInformation(handle, basic, Native::fileBasicInformation))
        && (basic.fileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A recycle bin ("$RECYCLE.BIN", "RECYCLER") and the volume's own "System Volume Information" carry
// both attributes, which is why Explorer hides them even from users who show hidden files.
bool isTrash(DWORD attributes)
{
    constexpr DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (attributes & hiddenSystem) == hiddenSystem;
}

struct Listing
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::vector<char> buffer = std::vector<char>(64 * 1024);
    ULONG offset = 0;
    ULONG filled = 0;
    bool restart = true;
    QByteArray name;
};

} // namespace

DirListing::DirListing(const FolderHandle& folder)
{
    if (!folder.isOpen())
        return;
    // The listing's own handle, so that the folder's may be closed meanwhile.
    auto* listing = new Listing;
    if (!DuplicateHandle(GetCurrentProcess(), handleOf(folder), GetCurrentProcess(), &listing->handle, 0,
            FALSE, DUPLICATE_SAME_ACCESS)) {
        delete listing;
        return;
    }
    m_handle = listing;
}

DirListing::~DirListing()
{
    close();
}

bool DirListing::next(DirEntry& entry)
{
    auto* listing = static_cast<Listing*>(m_handle);
    if (!listing)
        return false;
    if (listing->offset >= listing->filled) {
        IO_STATUS_BLOCK status = {};
        // Large batches: one round trip fetches hundreds of entries, even from a network share.
        if (!NT_SUCCESS(Native::calls.queryDirectoryFile(listing->handle, nullptr, nullptr, nullptr, &status,
                listing->buffer.data(), static_cast<ULONG>(listing->buffer.size()),
                Native::fileFullDirectoryInformation, FALSE, nullptr, listing->restart)))
            return false;
        listing->restart = false;
        listing->offset = 0;
        listing->filled = static_cast<ULONG>(status.Information);
        if (listing->filled == 0)
            return false;
    }
    const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(listing->buffer.data() + listing->offset);
    listing->offset = info->NextEntryOffset ? listing->offset + info->NextEntryOffset : listing->filled;
    listing->name = wtf8(info->FileName, info->FileNameLength / sizeof(wchar_t));
    entry.name = listing->name;
    // A junction or a symbolic link to a folder is never walked into. For a reparse point the
    // listing gives its tag where the size of extended attributes would stand.
    entry.isDirectory
        = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !redirects(info->FileAttributes, info->EaSize);
    entry.isHidden = hiddenBySystem(info->FileAttributes);
    entry.isTrash = entry.isDirectory && isTrash(info->FileAttributes);
    return true;
}

void DirListing::close()
{
    if (auto* listing = static_cast<Listing*>(m_handle)) {
        CloseHandle(listing->handle);
        delete listing;
        m_handle = nullptr;
    }
}

FolderHandle::FolderHandle(qintptr handle)
    : m_handle(handle)
{
    if (!isOpen())
        return;
    if (!isDirectory(handleOf(*this)) || !identityOf(handleOf(*this), m_identity)) {
        CloseHandle(handleOf(*this));
        m_handle = noHandle;
    }
}

FolderHandle::~FolderHandle()
{
    if (isOpen())
        CloseHandle(handleOf(*this));
}

FolderHandle openFolder(const QByteArray& path)
{
    // Junctions and links in the path are followed, as they were typed.
    return FolderHandle(nativeOf(CreateFileW(longPath(path).c_str(), folderAccess, shareEverything, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
}

FolderHandle openFolderToList(const QByteArray& path)
{
    return openFolder(path);
}

FolderHandle openSubfolderToList(const FolderHandle& parent, const QByteArray& name)
{
    if (!parent.isOpen())
        return {};
    return FolderHandle(nativeOf(openSubfolder(handleOf(parent), wide(name))));
}

FolderHandle openFolderBeneath(const FolderHandle& base, QByteArrayView relative)
{
    return openFolderByComponents(base, relative);
}

FolderHandle openFolderByComponents(const FolderHandle& base, QByteArrayView relative)
{
    if (!base.isOpen())
        return {};
    HANDLE current = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handleOf(base), GetCurrentProcess(), &current, 0, FALSE,
            DUPLICATE_SAME_ACCESS))
        return {};
    QByteArray component;
    const auto descend = [&current, &component] {
        if (component.isEmpty() || current == INVALID_HANDLE_VALUE)
            return;
        const HANDLE next = component == "." || component == ".." ? INVALID_HANDLE_VALUE
                                                                  : openSubfolder(current, wide(component));
        CloseHandle(current);
        current = next;
        component.clear();
    };
    for (const char c : relative) {
        if (isSeparator(c))
            descend();
        else
            component += c;
    }
    descend();
    return FolderHandle(nativeOf(current));
}

void allowOneOpenFolderPerLevel()
{
    // A Windows process may hold millions of handles; there is nothing to raise.
}

bool entryExists(const FolderHandle& folder, const QByteArray& name)
{
    ScopedHandle entry;
    const NTSTATUS status = openRelative(handleOf(folder), wide(name), FILE_READ_ATTRIBUTES, 0, *entry.out());
    return NT_SUCCESS(status) || RtlNtStatusToDosError(status) == ERROR_SHARING_VIOLATION;
}

NameLimit nameLimit(const FolderHandle& folder)
{
    // Documented to give the longest name component the file system takes, in WCHARs: 255 on NTFS,
    // FAT with long names and exFAT.
    DWORD longest = 0;
    if (!folder.isOpen()
        || !GetVolumeInformationByHandleW(
            handleOf(folder), nullptr, 0, nullptr, &longest, nullptr, nullptr, 0)
        || longest == 0)
        return { 255, true };
    return { static_cast<int>(longest), true };
}

bool ignoresLetterCase(const FolderHandle& folder, const QByteArray&)
{
    // Names are opened here with OBJ_CASE_INSENSITIVE, which every folder honours except one marked
    // case-sensitive (Windows 10 1803 and later, FILE_CS_FLAG_CASE_SENSITIVE_DIR in ntifs.h). Where
    // the query is refused (older systems, volumes without the feature) names ignore case.
    constexpr ULONG caseSensitiveFolder = 0x00000001;
    // Numbered here as the SDK numbers it: mingw-w64 leaves out the classes before it that its
    // _WIN32_WINNT does not reach, which moves it.
    const auto caseSensitiveInformation = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
    FILE_CASE_SENSITIVE_INFO information = {};
    if (folder.isOpen()
        && GetFileInformationByHandleEx(
            handleOf(folder), caseSensitiveInformation, &information, sizeof information))
        return !(information.Flags & caseSensitiveFolder);
    return true;
}

} // namespace Platform
