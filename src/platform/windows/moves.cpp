// The three ways a file is moved within its folder, none of which replaces an existing entry.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

namespace Platform {

using namespace Windows;

namespace {

// --- Reading back what a move did ----------------------------------------------------------------

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

// --- Names given and taken by handle -------------------------------------------------------------

// Renames (FileRenameInformation) or links (FileLinkInformation) the open file `source` to `name`,
// never replacing an existing entry: `name` relative to the folder `root`, or, with no root, either
// a full path or a name alone, which renames within the file's own folder. SetFileInformationByHandle
// (FileRenameInfo) is not used: it makes a path of the current folder from a relative name first,
// which with a folder handle fails with ERROR_INVALID_PARAMETER (under Wine 8, and as another
// project saw on Windows).
int giveName(HANDLE source, HANDLE root, const std::wstring& name, FILE_INFORMATION_CLASS change)
{
    // FILE_RENAME_INFORMATION and FILE_LINK_INFORMATION share FILE_RENAME_INFO's layout.
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = root;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    IO_STATUS_BLOCK status = {};
    return errnoOfStatus(
        Native::calls.setInformationFile(source, &status, info, static_cast<ULONG>(buffer.size()), change));
}

// The native path ("\??\D:\photos\name") of the entry `name` of `folder`; empty when the
// folder's path cannot be read.
std::wstring nativePathOf(const FolderHandle& folder, const std::wstring& name)
{
    std::wstring path = finalPath(handleOf(folder)); // "\\?\D:\photos", "\\?\UNC\server\share"
    if (!path.starts_with(L"\\\\?\\"))
        return {};
    path[1] = L'?';
    if (!path.ends_with(L'\\'))
        path += L'\\';
    return path + name;
}

// Whether the open file `file` now has the path of the entry `name` of `folder`, as the file
// system reports each open file's name (GetFinalPathNameByHandleW); nullopt when either path
// cannot be read.
std::optional<bool> isNamed(HANDLE file, const FolderHandle& folder, const std::wstring& name)
{
    std::wstring expected = finalPath(handleOf(folder));
    const std::wstring path = finalPath(file);
    if (expected.empty() || path.empty())
        return std::nullopt;
    if (!expected.ends_with(L'\\'))
        expected += L'\\';
    return sameIgnoringCase(expected + name, path);
}

// Whether the open file `file` is the entry `name` of `folder`. A volume may give its files no
// number: [MS-FSCC] 2.4.22 has it answer 0, to be ignored (WinFsp's SSHFS does, and
// FileIdInformation it refuses). There the name the open file now has, which a rename changes,
// tells instead; where not even that can be read, `simple` says whether the rename was the simple
// one, which FILE_RENAME_INFORMATION documents as made within the file's own folder.
bool isEntryOf(HANDLE file, const FolderHandle& folder, const std::wstring& name, bool simple)
{
    if (!hasFileNumber(file))
        return isNamed(file, folder, name).value_or(simple);
    ScopedHandle entry;
    return NT_SUCCESS(openRelative(handleOf(folder), name, FILE_READ_ATTRIBUTES, 0, *entry.out()))
        && sameFile(file, entry.get());
}

// Whether the open file `file`, which another handle has just moved, is the entry `name` of `folder`.
// Where the volume gives no numbers, the name a handle reports may still be the one it was opened by
// (as under Wine), so there the name is only looked for.
bool movedTo(HANDLE file, const FolderHandle& folder, const std::wstring& name)
{
    if (hasFileNumber(file))
        return isEntryOf(file, folder, name, false);
    ScopedHandle entry;
    return NT_SUCCESS(openRelative(handleOf(folder), name, FILE_READ_ATTRIBUTES, 0, *entry.out()));
}

// Where the last way of this thread left a file outside its folder.
thread_local QByteArray placedElsewhere;

// The file `file` stays outside its folder: where it is, as the user types paths, is kept for the
// row to tell ("\\?\D:\x" as "D:\x", "\\?\UNC\server\share\x" as "\\server\share\x"). NTFS and
// fastfat answer an open file's name from the file itself (FatQueryNameInfo, from its FCB), so it
// follows a move made through another handle, as MoveFileExW's; Wine keeps the name the handle was
// opened by. The path is told only where it is known to hold the file.
int leftElsewhere(HANDLE file)
{
    std::wstring path = finalPath(file);
    ScopedHandle there;
    if (path.starts_with(L"\\\\?\\") && hasFileNumber(file)
        && !(NT_SUCCESS(
                 openRelative(nullptr, L"\\??\\" + path.substr(4), FILE_READ_ATTRIBUTES, 0, *there.out()))
            && sameFile(file, there.get())))
        path.clear();
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path.erase(2, 6);
    else if (path.starts_with(L"\\\\?\\"))
        path.erase(0, 4);
    placedElsewhere = wtf8(path.data(), qsizetype(path.size()));
    return movedElsewhere;
}

// Renames the open file `file` of `folder` from `from` to `to` by a simple rename: with
// RootDirectory NULL and a name alone (FILE_RENAME_INFORMATION, ntifs.h), the file is renamed
// within its own folder, which fastfat (FatSetRenameInfo, "simple rename") and NTFS take in one
// step, letter case included. With RootDirectory set, the I/O manager would also open the target
// folder for writing, and another program holding that folder open without write sharing would
// make the rename fail as in use. Wine 8 takes no name alone (it answers that the name is invalid):
// there the folder is given as RootDirectory. A file-system driver may still put the file
// elsewhere (some installed ones take a relative name as one in the volume's root), so where the
// file now is is read back through the handle; a file that left its folder is moved back by its
// full path, and the move fails. Where it cannot be moved back (its old name taken meanwhile, or
// the folder's path unreadable), it stays where it is, and the move says where that is.
int renameInFolder(HANDLE file, const FolderHandle& folder, const std::wstring& from, const std::wstring& to)
{
    int error = giveName(file, nullptr, to, Native::fileRenameInformation);
    const bool simple = error == 0;
    if (error == EILSEQ)
        error = giveName(file, handleOf(folder), to, Native::fileRenameInformation);
    if (error)
        return error;
    if (isEntryOf(file, folder, to, simple))
        return 0;
    const std::wstring back = nativePathOf(folder, from);
    if (!back.empty() && giveName(file, nullptr, back, Native::fileRenameInformation) == 0
        && isEntryOf(file, folder, from, false))
        return EIO;
    return leftElsewhere(file);
}

// Whether the link just made to the open file `file` is the entry `name` of `folder`: the file has
// a second name, and that name, opened beneath the folder, is the same file. A file-system driver
// that ignores RootDirectory could have made the link elsewhere, or reported it made without making
// it.
bool linkedAs(HANDLE file, const FolderHandle& folder, const std::wstring& name)
{
    Native::StandardInformation standard = {};
    if (!NT_SUCCESS(queryInformation(file, standard, Native::fileStandardInformation))
        || standard.numberOfLinks < 2)
        return false;
    ScopedHandle link;
    return NT_SUCCESS(openRelative(handleOf(folder), name, FILE_READ_ATTRIBUTES, 0, *link.out()))
        && sameFile(file, link.get());
}

// Opens the file `from` of `folder` to give it the name `to`: 0, or the errno of the refusal.
int openToMove(const FolderHandle& folder, const QByteArray& from, const QByteArray& to, ScopedHandle& file)
{
    if (windowsRefusesName(to))
        return EILSEQ;
    return errnoOfStatus(
        openRelative(handleOf(folder), wide(from), DELETE | FILE_READ_ATTRIBUTES, 0, *file.out()));
}

} // namespace

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    ScopedHandle file;
    if (const int error = openToMove(folder, from, to, file))
        return error;
    if (const int error = renameInFolder(file.get(), folder, wide(from), wide(to)))
        return error;
    return confirmRename(folder, from, to);
}

int linkThenUnlink(
    const FolderHandle& folder, const QByteArray& from, const QByteArray& to, const LinkedReport& linked)
{
    ScopedHandle file;
    if (const int error = openToMove(folder, from, to, file))
        return error;
    const std::wstring target = wide(to);
    // As for a rename, the simple form first: RootDirectory NULL and a name alone, which
    // FILE_LINK_INFORMATION (ntifs.h) documents as a link in the file's own folder, so that no
    // driver is handed a folder to misread. Wine 8 takes no name alone; there the folder is given.
    // [MS-FSCC] 2.4.27 FileLinkInformation documents STATUS_INVALID_PARAMETER for a RootDirectory
    // the volume will not take: a refusal of this way, so the mover goes on to the next.
    int error = giveName(file.get(), nullptr, target, Native::fileLinkInformation);
    if (error == EILSEQ)
        error = giveName(file.get(), handleOf(folder), target, Native::fileLinkInformation);
    if (error)
        return error == EINVAL ? ENOTSUP : error;
    // The old name is deleted only once the new one is known to hold the file; otherwise, or when
    // the old name cannot be deleted, the file keeps its old name and the move fails.
    if (!linkedAs(file.get(), folder, target)) {
        unlinkIfSameFile(file.get(), handleOf(folder), target);
        unlinkElsewhere(file.get(), folder, target);
        return EIO;
    }
    if (linked)
        linked();
    // NTFS refuses to delete the name of a file that a program has mapped (a viewer, an indexer)
    // with STATUS_CANNOT_DELETE, and then refuses the new name alike: the row says so.
    if (const int error = deleteOpenName(file.get()))
        return unlinkIfSameFile(file.get(), handleOf(folder), target) ? error : keptBothNames;
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
    // The file held open across the move, sharing deletion, so that where it went can be read back
    // as after a rename by handle: MoveFileExW reports no more than success.
    ScopedHandle file;
    const bool held
        = NT_SUCCESS(openRelative(handleOf(folder), wide(from), FILE_READ_ATTRIBUTES, 0, *file.out()));
    if (!Native::calls.moveFileEx((folderPath + wide(from)).c_str(), (folderPath + wide(to)).c_str(), 0))
        return lastErrno();
    if (held && !movedTo(file.get(), folder, wide(to)))
        return leftElsewhere(file.get());
    return confirmRename(folder, from, to);
}

int moveBackInto(
    const FolderHandle& from, const QByteArray& name, const FolderHandle& to, const QByteArray& target)
{
    ScopedHandle file;
    if (const int error = openToMove(from, name, target, file))
        return error;
    // Into another folder than its own, the file is renamed with that folder as RootDirectory and
    // the name relative to it (FILE_RENAME_INFORMATION, ntifs.h); where it went is read back as after
    // any rename by handle.
    const std::wstring wanted = wide(target);
    if (const int error = giveName(file.get(), handleOf(to), wanted, Native::fileRenameInformation))
        return error;
    return isEntryOf(file.get(), to, wanted, false) ? 0 : leftElsewhere(file.get());
}

QByteArray takePlacedElsewhere()
{
    return std::exchange(placedElsewhere, QByteArray());
}

bool dropsFilesOnRefusedNames(quint64)
{
    return false;
}

} // namespace Platform
