// The program's record files: the state folder, files made durable and held by a handle that
// shares nothing.
#include "internal.h"
#include "platform/record_file.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstddef>
#include <vector>

namespace Platform {

using namespace Windows;

namespace {

HANDLE handleOf(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Opened sharing nothing, so that no other handle, in this program or another, can open the record
// while it is held: CreateFileW then fails with ERROR_SHARING_VIOLATION. DELETE lets the holder
// remove or rename it through its own handle.
HANDLE openRecord(const QByteArray& path, DWORD disposition)
{
    return CreateFileW(longPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition,
        FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

QByteArray stateFolder()
{
    // %LOCALAPPDATA%: the user's own, never roamed to other machines, as records of this one's
    // files should not be.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/batch-renamer");
    QDir().mkpath(folder);
    return pathFromText(QDir::toNativeSeparators(folder));
}

RecordFile::~RecordFile()
{
    if (isOpen())
        CloseHandle(handleOf(m_handle));
}

RecordFile RecordFile::create(
    const QByteArray& folder, const QByteArray& name, QByteArrayView start, int& error)
{
    // Made under its own name at once: no other handle can open it before this one lets it go.
    RecordFile record;
    const HANDLE handle = openRecord(folder + '\\' + name, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastErrno();
        return {};
    }
    record.m_handle = nativeOf(handle);
    record.m_folder = folder;
    record.m_name = name;
    error = record.append(start);
    // FlushFileBuffers writes the file's data and metadata and has the storage flush its cache
    // (NtFlushBuffersFileEx, flags 0). Windows documents no flush of a folder's entries; NTFS and
    // ReFS journal the new entry, which the flush of the file's metadata commits.
    if (error == 0 && !Native::calls.flushFileBuffers(handle))
        error = lastErrno();
    if (error != 0) {
        record.remove();
        return {};
    }
    return record;
}

RecordFile RecordFile::take(const QByteArray& folder, const QByteArray& name, Taken& taken)
{
    const HANDLE handle = openRecord(folder + '\\' + name, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
        taken = GetLastError() == ERROR_SHARING_VIOLATION ? Taken::HeldElsewhere : Taken::Failed;
        return {};
    }
    RecordFile record;
    record.m_handle = nativeOf(handle);
    record.m_folder = folder;
    record.m_name = name;
    taken = Taken::Held;
    return record;
}

QByteArray RecordFile::readAll() const
{
    LARGE_INTEGER size = {};
    if (!isOpen() || !GetFileSizeEx(handleOf(m_handle), &size) || size.QuadPart > 0x7fffffff)
        return {};
    QByteArray bytes(qsizetype(size.QuadPart), Qt::Uninitialized);
    LARGE_INTEGER start = {};
    DWORD read = 0;
    if (!SetFilePointerEx(handleOf(m_handle), start, nullptr, FILE_BEGIN)
        || !ReadFile(handleOf(m_handle), bytes.data(), DWORD(bytes.size()), &read, nullptr))
        return {};
    bytes.truncate(read);
    return bytes;
}

int RecordFile::append(QByteArrayView bytes)
{
    // The holder alone writes, always at the end.
    const LARGE_INTEGER none = {};
    if (!SetFilePointerEx(handleOf(m_handle), none, nullptr, FILE_END))
        return lastErrno();
    while (!bytes.isEmpty()) {
        DWORD written = 0;
        if (!WriteFile(handleOf(m_handle), bytes.data(), DWORD(std::min<qsizetype>(bytes.size(), 1 << 30)),
                &written, nullptr))
            return lastErrno();
        bytes = bytes.sliced(written);
    }
    return 0;
}

void RecordFile::setAside()
{
    if (!isOpen())
        return;
    // Renamed through the holder's handle, which alone may open it (FILE_RENAME_INFO, the new name
    // a full path in the same folder).
    const std::wstring target = longPath(m_folder + '\\' + m_name + ".unreadable");
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    SetFileInformationByHandle(handleOf(m_handle), FileRenameInfo, rename, DWORD(buffer.size()));
    CloseHandle(handleOf(std::exchange(m_handle, noHandle)));
}

void RecordFile::remove()
{
    if (!isOpen())
        return;
    FILE_DISPOSITION_INFO disposition = { TRUE };
    SetFileInformationByHandle(handleOf(m_handle), FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handleOf(std::exchange(m_handle, noHandle)));
}

} // namespace Platform
