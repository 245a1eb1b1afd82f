#include "platform.h"

#include <QByteArrayList>
#include <QChar>
#include <QHash>
#include <QString>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
// After windows.h, which they build on.
#include <shellapi.h>
#include <winternl.h>

// Declared by the driver kit rather than by winternl.h; ntdll has exported it since Windows NT.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
    PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS informationClass,
    BOOLEAN returnSingleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan);

namespace Platform {

namespace {

// Numbered here: the SDK's winternl.h names only the first of these classes.
const auto fileFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(2);
const auto fileLinkInformation = static_cast<FILE_INFORMATION_CLASS>(11);

// --- Names: UTF-16 on the system, WTF-8 bytes in the program ------------------------------------

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xdc00 && unit <= 0xdfff;
}

// UTF-8, except that an unpaired surrogate is encoded like any other code point, so that every
// sequence of UTF-16 units has a form and comes back from it unchanged.
QByteArray wtf8(const wchar_t* units, qsizetype length)
{
    QByteArray bytes;
    bytes.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        char32_t point = static_cast<char16_t>(units[i]);
        if (isHighSurrogate(point) && i + 1 < length && isLowSurrogate(static_cast<char16_t>(units[i + 1])))
            point = 0x10000 + ((point - 0xd800) << 10) + (static_cast<char16_t>(units[++i]) - 0xdc00);
        if (point < 0x80) {
            bytes += static_cast<char>(point);
        } else if (point < 0x800) {
            bytes += static_cast<char>(0xc0 | (point >> 6));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else if (point < 0x10000) {
            bytes += static_cast<char>(0xe0 | (point >> 12));
            bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            bytes += static_cast<char>(0xf0 | (point >> 18));
            bytes += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
            bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        }
    }
    return bytes;
}

// The UTF-16 units of a WTF-8 text. Bytes that form no code point, which no Windows name gives,
// become U+FFFD.
std::wstring wide(QByteArrayView bytes)
{
    std::wstring units;
    units.reserve(bytes.size());
    const auto byteAt = [&bytes](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    for (qsizetype i = 0; i < bytes.size();) {
        const unsigned char lead = byteAt(i);
        const int length = lead < 0x80 ? 1
            : (lead & 0xe0) == 0xc0    ? 2
            : (lead & 0xf0) == 0xe0    ? 3
            : (lead & 0xf8) == 0xf0    ? 4
                                       : 0;
        bool wellFormed = length > 0 && i + length <= bytes.size();
        char32_t point = length == 1 ? lead
            : length == 2            ? lead & 0x1f
            : length == 3            ? lead & 0x0f
                                     : lead & 0x07;
        for (int k = 1; wellFormed && k < length; ++k) {
            wellFormed = (byteAt(i + k) & 0xc0) == 0x80;
            point = (point << 6) | (byteAt(i + k) & 0x3f);
        }
        if (!wellFormed) {
            units += L'\xfffd';
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            units += static_cast<wchar_t>(0xd800 + (point >> 10));
            units += static_cast<wchar_t>(0xdc00 + (point & 0x3ff));
        } else {
            units += static_cast<wchar_t>(point);
        }
        i += length;
    }
    return units;
}

// --- Errors: the move's ways report errno values, as on every other system -----------------------

int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOTSUP;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return EILSEQ;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

int errnoOfStatus(NTSTATUS status)
{
    return NT_SUCCESS(status) ? 0 : errnoOf(RtlNtStatusToDosError(status));
}

int lastErrno()
{
    return errnoOf(GetLastError());
}

// --- Handles ------------------------------------------------------------------------------------

HANDLE handleOf(const FolderHandle& folder)
{
    return reinterpret_cast<HANDLE>(folder.native());
}

qintptr nativeOf(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? -1 : reinterpret_cast<qintptr>(handle);
}

constexpr DWORD shareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Enough to list a folder and to open and rename what lies in it by name relative to it.
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// The absolute form of a path in the "\\?\" syntax, which takes paths of any length and names
// exactly as given; "/" is taken as "\", and relative paths are resolved against the current
// folder, as the system would.
std::wstring longPath(QByteArrayView path)
{
    std::wstring units = wide(path);
    std::replace(units.begin(), units.end(), L'/', L'\\');
    if (units.starts_with(L"\\\\?\\"))
        return units;
    const DWORD needed = GetFullPathNameW(units.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return units;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(units.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    if (full.starts_with(L"\\\\.\\"))
        return full; // a device, left as it is
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Opens `name` relative to the folder `root`, never following a reparse point (a junction or a
// symbolic link) that `name` itself is.
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
    return NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, shareEverything,
        FILE_OPEN,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
        nullptr, 0);
}

// The path the system now gives the open file or folder, links and junctions resolved; empty when
// it cannot tell.
std::wstring finalPath(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(
        handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    path.resize(length < path.size() ? length : 0);
    return path;
}

class ScopedHandle final
{
public:
    explicit ScopedHandle(HANDLE handle = nullptr)
        : m_handle(handle)
    {
    }
    ~ScopedHandle()
    {
        if (m_handle && m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    Q_DISABLE_COPY_MOVE(ScopedHandle)

    HANDLE get() const { return m_handle; }
    HANDLE* out() { return &m_handle; }

private:
    HANDLE m_handle;
};

// Whether an entry leads somewhere else: a junction, a symbolic link, or any other reparse point
// that stands for another name. Folders that are reparse points for other reasons, such as those
// a cloud drive keeps on demand, are folders like any other.
bool redirects(DWORD attributes, DWORD reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

// A folder below `parent`, as long as it is a real folder and does not lead somewhere else.
HANDLE openSubfolder(HANDLE parent, const std::wstring& name)
{
    HANDLE handle = nullptr;
    if (!NT_SUCCESS(openRelative(parent, name, folderAccess, FILE_DIRECTORY_FILE, handle)))
        return INVALID_HANDLE_VALUE;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)
        || redirects(tag.FileAttributes, tag.ReparseTag)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// --- Names Windows refuses ----------------------------------------------------------------------

// The file system itself would hold some of these when they arrive through the native calls
// used here, but Explorer and most programs could then neither open nor remove the file.
bool windowsRefusesName(QByteArrayView name)
{
    constexpr QByteArrayView refused = "\\/:*?\"<>|";
    if (name.isEmpty() || name.endsWith('.') || name.endsWith(' '))
        return true;
    if (std::any_of(name.begin(), name.end(),
            [&refused](char c) { return static_cast<unsigned char>(c) < 0x20 || refused.contains(c); }))
        return true;
    // Device names, with any extension: "CON", "nul.txt", "COM1.jpg".
    QByteArray stem
        = name.first(name.contains('.') ? name.indexOf('.') : name.size()).toByteArray().toUpper();
    while (stem.endsWith(' '))
        stem.chop(1);
    static const std::array<QByteArrayView, 4> devices = { "CON", "PRN", "AUX", "NUL" };
    if (std::find(devices.begin(), devices.end(), QByteArrayView(stem)) != devices.end())
        return true;
    if (stem.size() >= 4 && (stem.startsWith("COM") || stem.startsWith("LPT"))) {
        const QByteArrayView digit = QByteArrayView(stem).sliced(3);
        // "COM1" to "COM9", and the superscript digits Windows also counts.
        return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xc2\xb9"
            || digit == "\xc2\xb2" || digit == "\xc2\xb3";
    }
    return false;
}

// The name under which the folder now holds the entry `name`, which it looks up ignoring case.
QByteArray storedName(HANDLE folder, const std::wstring& name)
{
    // A fresh handle of the folder, since a listing handle keeps the first name it was asked for.
    ScopedHandle listing;
    if (!NT_SUCCESS(
            openRelative(folder, std::wstring(), FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, *listing.out())))
        return {};
    alignas(8) std::array<char, sizeof(FILE_FULL_DIR_INFO) + MAX_PATH * 2 * sizeof(wchar_t)> buffer;
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name.c_str());
    mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    mask.MaximumLength = mask.Length;
    IO_STATUS_BLOCK status = {};
    if (!NT_SUCCESS(NtQueryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &status, buffer.data(),
            static_cast<ULONG>(buffer.size()), fileFullDirectoryInformation, TRUE, &mask, TRUE)))
        return {};
    const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data());
    return wtf8(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
}

bool sameIgnoringCase(const std::wstring& first, const std::wstring& second)
{
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
               static_cast<int>(second.size()), TRUE)
        == CSTR_EQUAL;
}

enum class NameChange { Rename, Link };

// Renames or links the open file `source` to `name` in `folder`, never replacing an existing entry.
int giveName(HANDLE source, const FolderHandle& folder, const std::wstring& name, NameChange change)
{
    // FILE_RENAME_INFO and the native link information share one layout.
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = handleOf(folder);
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    const auto size = static_cast<DWORD>(buffer.size());
    if (change == NameChange::Rename)
        return SetFileInformationByHandle(source, FileRenameInfo, info, size) ? 0 : lastErrno();
    IO_STATUS_BLOCK status = {};
    return errnoOfStatus(NtSetInformationFile(source, &status, info, size, fileLinkInformation));
}

// Renaming a file to its own name in other letters can report success and change nothing (as
// Wine does); the name the folder now holds tells. Such a file is still under its old name.
int confirmRename(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    const std::wstring source = wide(from);
    const std::wstring target = wide(to);
    if (source != target && sameIgnoringCase(source, target) && storedName(handleOf(folder), target) != to)
        return EEXIST;
    return 0;
}

int deleteOpenName(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = { TRUE };
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)
        ? 0
        : lastErrno();
}

// Only "*" and "?" are wildcards; letter case does not count, as everywhere on Windows.
bool wildcardMatches(const QString& pattern, const QString& name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype starAt = -1;
    qsizetype resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size()
            && (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool hiddenBySystem(DWORD attributes)
{
    return attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// "D:", "D:\", "\\server\share", "\\?\D:\": the path names a volume's root.
bool isRoot(const QByteArray& path)
{
    QByteArray rest = path;
    if (rest.startsWith("\\\\?\\UNC\\"))
        rest = "\\\\" + rest.mid(8);
    else if (rest.startsWith("\\\\?\\"))
        rest = rest.mid(4);
    if (rest.size() == 2 && rest[1] == ':')
        return true;
    if (rest.startsWith("\\\\")) {
        const QByteArrayList parts = rest.mid(2).split('\\');
        return parts.size() == 2 && !parts[0].isEmpty() && !parts[1].isEmpty();
    }
    return false;
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

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

QByteArray pathFromText(const QString& text)
{
    QByteArray path = wtf8(reinterpret_cast<const wchar_t*>(text.utf16()), text.size());
    path.replace('/', '\\');
    return path;
}

QStringList commandLineArguments(int, char*[])
{
    QStringList arguments;
    int count = 0;
    if (wchar_t** units = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) {
            QString argument = QString::fromWCharArray(units[i]);
            // A quoted path that ends in a backslash, as Explorer hands over a drive ("C:\"), reads
            // as an escaped quote under the parser's rules and arrives as C:". Windows names hold
            // no quotes, so a final one can only have been that backslash.
            if (argument.endsWith(u'"'))
                argument.back() = u'\\';
            arguments.append(argument);
        }
        LocalFree(units);
    }
    return arguments;
}

namespace {

// The console of the command line that started the program. A window program has none of its own,
// and its standard handles are not valid unless the starting program handed them over; Windows
// documents AttachConsole for this case, failing where the parent has no console (Explorer, a
// shortcut), and CONOUT$ as the attached console's screen buffer. Opened once: stays for the run.
HANDLE parentConsole()
{
    static const HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_EXISTING, 0, nullptr);
    }();
    return console;
}

} // namespace

void printText(OutputStream stream, const QString& text)
{
    HANDLE output = GetStdHandle(stream == OutputStream::Standard ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    // A handle handed over (a pipe, a file, NUL, a console) serves as it is; GetFileType answers
    // FILE_TYPE_UNKNOWN for one that is no valid handle of this process. Without one, the text goes
    // to the console of the parent.
    const bool handedOver
        = output != nullptr && output != INVALID_HANDLE_VALUE && GetFileType(output) != FILE_TYPE_UNKNOWN;
    if (!handedOver) {
        output = parentConsole();
        if (output == INVALID_HANDLE_VALUE)
            return; // started from Explorer or a shortcut: nobody reads it
    }
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    WriteFile(output, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool dropsFilesOnRefusedNames(quint64)
{
    return false;
}

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
        if (!NT_SUCCESS(NtQueryDirectoryFile(listing->handle, nullptr, nullptr, nullptr, &status,
                listing->buffer.data(), static_cast<ULONG>(listing->buffer.size()),
                fileFullDirectoryInformation, FALSE, nullptr, listing->restart)))
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

bool entryExists(const QByteArray& path)
{
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FolderHandle::FolderHandle(qintptr handle)
    : m_handle(handle)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!isOpen())
        return;
    if (!GetFileInformationByHandle(handleOf(*this), &information)
        || !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handleOf(*this));
        m_handle = noHandle;
        return;
    }
    m_identity = { information.dwVolumeSerialNumber,
        (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow };
    if (m_identity.index == 0) {
        // Some network file systems (and Wine through UNC paths) give no file number; the folder's
        // creation time and the path it now resolves to stand in, so that another folder, or a
        // junction to one, put in its place still differs.
        const std::wstring resolved = finalPath(handleOf(*this));
        const quint64 created = (quint64(information.ftCreationTime.dwHighDateTime) << 32)
            | information.ftCreationTime.dwLowDateTime;
        const QStringView path(
            reinterpret_cast<const char16_t*>(resolved.data()), qsizetype(resolved.size()));
        m_identity.index = (created ^ qHash(path)) | 1; // never 0, which stands for no folder
    }
}

FolderHandle::~FolderHandle()
{
    if (isOpen())
        CloseHandle(handleOf(*this));
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_handle(std::exchange(other.m_handle, noHandle))
    , m_identity(other.m_identity)
{
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept
{
    if (this != &other) {
        if (isOpen())
            CloseHandle(handleOf(*this));
        m_handle = std::exchange(other.m_handle, noHandle);
        m_identity = other.m_identity;
    }
    return *this;
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

bool fitsPathLimit(QByteArrayView path)
{
    // The "\\?\" form takes 32,767 UTF-16 units; a byte that continues a character adds none, and
    // a four-byte character takes two.
    constexpr qsizetype longestPath = 32767 - 8;
    qsizetype units = 0;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xc0) == 0x80 ? 0 : (byte & 0xf8) == 0xf0 ? 2 : 1;
    }
    return units < longestPath;
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

namespace {

// Opens the file `from` of `folder` to give it the name `to`: 0, or the errno of the refusal.
int openToMove(const FolderHandle& folder, const QByteArray& from, const QByteArray& to, ScopedHandle& file)
{
    if (windowsRefusesName(to))
        return EILSEQ;
    return errnoOfStatus(openRelative(handleOf(folder), wide(from), DELETE, 0, *file.out()));
}

} // namespace

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    ScopedHandle file;
    if (const int error = openToMove(folder, from, to, file))
        return error;
    if (const int error = giveName(file.get(), folder, wide(to), NameChange::Rename))
        return error;
    return confirmRename(folder, from, to);
}

int linkThenUnlink(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    ScopedHandle file;
    if (const int error = openToMove(folder, from, to, file))
        return error;
    if (const int error = giveName(file.get(), folder, wide(to), NameChange::Link))
        return error;
    // Deleting through the handle removes the name it was opened by: the old one.
    if (const int error = deleteOpenName(file.get())) {
        ScopedHandle link;
        if (NT_SUCCESS(openRelative(handleOf(folder), wide(to), DELETE, 0, *link.out())))
            deleteOpenName(link.get()); // the file keeps its old name; report the move as failed
        return error;
    }
    return 0;
}

int checkThenRename(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    if (windowsRefusesName(to))
        return EILSEQ;
    // By path, for volumes that refuse both ways by handle. Without MOVEFILE_REPLACE_EXISTING the
    // file system itself refuses an existing target; only the folder's path, read from its handle
    // just now, could change meanwhile.
    std::wstring folderPath = finalPath(handleOf(folder));
    if (folderPath.empty())
        return lastErrno();
    if (!folderPath.ends_with(L'\\'))
        folderPath += L'\\';
    if (!MoveFileExW((folderPath + wide(from)).c_str(), (folderPath + wide(to)).c_str(), 0))
        return lastErrno();
    return confirmRename(folder, from, to);
}

QByteArray firstMatchingEntry(const QByteArray& path)
{
    QByteArray trimmed = path;
    trimmed.replace('/', '\\');
    while (trimmed.endsWith('\\'))
        trimmed.chop(1);
    if (path.isEmpty())
        return {};
    if (trimmed.isEmpty() || isRoot(trimmed))
        return entryExists(trimmed + '\\') ? path : QByteArray();

    const qsizetype cut = trimmed.lastIndexOf('\\');
    const QByteArray last = trimmed.mid(cut + 1);
    // "." and ".." name no entry, though the system resolves them to a folder.
    if (last == "." || last == "..")
        return {};
    if (!last.contains('*') && !last.contains('?')) {
        const DWORD attributes = GetFileAttributesW(longPath(trimmed).c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || hiddenBySystem(attributes) ? QByteArray() : last;
    }

    QByteArray parent = cut < 0 ? QByteArray(".") : trimmed.left(cut + 1);
    const QString pattern = QString::fromUtf8(last);
    DirListing listing(openFolderToList(parent));
    DirEntry entry;
    while (listing.next(entry)) {
        if (entry.isHidden || entry.name == QByteArrayView(".") || entry.name == QByteArrayView(".."))
            continue;
        if (wildcardMatches(pattern, QString::fromUtf8(entry.name)))
            return entry.name.toByteArray();
    }
    return {};
}

// --- What the folder's volume says about names ---------------------------------------------------

std::optional<FileIdentity> entryIdentity(const FolderHandle& folder, const QByteArray& name)
{
    ScopedHandle entry;
    if (!folder.isOpen()
        || !NT_SUCCESS(openRelative(handleOf(folder), wide(name), FILE_READ_ATTRIBUTES, 0, *entry.out())))
        return std::nullopt;
    // Documented: the volume's serial number and the file's id together name one file on this
    // computer, though FAT makes the id from where the entry lies in its folder, so a new file in
    // a removed one's place gets its id; the creation time tells them apart. A file system that
    // gives no id (some network ones) cannot tell the file.
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!GetFileInformationByHandle(entry.get(), &information))
        return std::nullopt;
    const quint64 index = (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    if (index == 0)
        return std::nullopt;
    const quint64 created
        = (quint64(information.ftCreationTime.dwHighDateTime) << 32) | information.ftCreationTime.dwLowDateTime;
    return FileIdentity { information.dwVolumeSerialNumber, index, created };
}

NameLimit nameLimit(const FolderHandle& folder)
{
    // Documented to give the longest name component the file system takes, in WCHARs: 255 on NTFS,
    // FAT with long names and exFAT.
    DWORD longest = 0;
    if (!folder.isOpen()
        || !GetVolumeInformationByHandleW(handleOf(folder), nullptr, 0, nullptr, &longest, nullptr, nullptr, 0)
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
        && GetFileInformationByHandleEx(handleOf(folder), caseSensitiveInformation, &information, sizeof information))
        return !(information.Flags & caseSensitiveFolder);
    return true;
}

bool systemRefusesName(QByteArrayView name)
{
    return windowsRefusesName(name);
}

} // namespace Platform
