// What the Windows files share: names in both forms, handles, entries opened beneath a folder.
#pragma once

#include "native_calls.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>

#include <string>

namespace Platform::Windows {

// UTF-8, except that an unpaired surrogate is encoded like any other code point, so that every
// sequence of UTF-16 units has a form and comes back from it unchanged.
QByteArray wtf8(const wchar_t* units, qsizetype length);
// The UTF-16 units of a WTF-8 text. Bytes that form no code point, which no Windows name gives,
// become U+FFFD.
std::wstring wide(QByteArrayView bytes);

// The absolute form of a path in the "\\?\" syntax, which takes paths of any length and names
// exactly as given; "/" is taken as "\", and relative paths are resolved against the current
// folder, as the system would.
std::wstring longPath(QByteArrayView path);

bool hiddenBySystem(DWORD attributes);

// The errno value of a Win32 error, of an NTSTATUS, and of the calling thread's last error.
int errnoOf(DWORD error);
int errnoOfStatus(NTSTATUS status);
int lastErrno();

// Whether Windows refuses `name` for a file: reserved characters, a trailing dot or space, a device
// name.
bool windowsRefusesName(QByteArrayView name);

inline HANDLE handleOf(const FolderHandle& folder)
{
    return reinterpret_cast<HANDLE>(folder.native());
}

inline qintptr nativeOf(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE || handle == nullptr ? -1 : reinterpret_cast<qintptr>(handle);
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

inline constexpr DWORD shareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` relative to the folder `root`, never following a reparse point (a junction or a
// symbolic link) that `name` itself is.
NTSTATUS openRelative(
    HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG options, HANDLE& handle);

// The path the system now gives the open file or folder, links and junctions resolved; empty when
// it cannot tell.
std::wstring finalPath(HANDLE handle);

template <typename Information>
NTSTATUS queryInformation(HANDLE handle, Information& information, FILE_INFORMATION_CLASS informationClass)
{
    IO_STATUS_BLOCK status = {};
    return Native::calls.queryInformationFile(
        handle, &status, &information, sizeof information, informationClass);
}

// Whether two open files are one file: the same number on the same volume. A volume that gives its
// files no number has none the same.
bool sameFile(HANDLE first, HANDLE second);
// Whether the volume gives the open file a number at all.
bool hasFileNumber(HANDLE handle);

// Which folder the open folder is; false when the system cannot tell.
bool identityOf(HANDLE folder, FolderIdentity& identity);

// The name under which the folder now holds the entry `name`, which it looks up ignoring case.
QByteArray storedName(HANDLE folder, const std::wstring& name);
// Whether two names are one as Windows compares them, letter case aside.
bool sameIgnoringCase(const std::wstring& first, const std::wstring& second);

// Deletes the name the open file was opened by; its other names stay. 0, or the errno.
int deleteOpenName(HANDLE file);
// Takes the name `name` of `folder` away from the open file `file` again, while it still is that
// file and not one another program put there meanwhile. Should that fail, the file keeps both
// names, never neither: false then.
bool unlinkIfSameFile(HANDLE file, HANDLE folder, const std::wstring& name);
// Takes away the names `name` that the open file `file` has in folders other than `folder`.
void unlinkElsewhere(HANDLE file, const FolderHandle& folder, const std::wstring& name);

} // namespace Platform::Windows
