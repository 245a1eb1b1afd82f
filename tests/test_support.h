#pragma once

#include "dialog/message_boxes.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which these need.
#include <sddl.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#else
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#endif

// Records every box instead of showing it; the box is "closed" at once, after `whileShown`, which
// stands for what the user does while the box is up.
class RecordingMessageBoxes final : public MessageBoxes
{
public:
    void show(const QString& title, const QString& text) override
    {
        shown.append({ title, text });
        if (whileShown)
            whileShown();
    }

    struct Shown
    {
        QString title;
        QString text;
    };
    QList<Shown> shown;
    std::function<void()> whileShown;
};

namespace TestSystem {

#ifdef _WIN32
// Wine is not Windows: where its file layer differs, the tests say so and skip only that check.
inline bool underWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Names are UTF-16 on Windows and WTF-8 bytes in the program; these two carry even an unpaired
// surrogate across.
inline std::wstring wideFromWtf8(QByteArrayView bytes)
{
    std::wstring wide;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<uchar>(bytes[i]);
        const int more = lead < 0x80 ? 0 : lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : 1;
        char32_t point = more == 0 ? lead : lead & (0x3f >> more);
        for (int k = 1; k <= more && i + k < bytes.size(); ++k)
            point = point << 6 | (static_cast<uchar>(bytes[i + k]) & 0x3f);
        i += more + 1;
        if (point >= 0x10000) {
            point -= 0x10000;
            wide += static_cast<wchar_t>(0xd800 + (point >> 10));
            wide += static_cast<wchar_t>(0xdc00 + (point & 0x3ff));
        } else {
            wide += static_cast<wchar_t>(point);
        }
    }
    return wide;
}

inline QByteArray wtf8FromWide(const wchar_t* text, size_t size)
{
    QByteArray bytes;
    for (size_t i = 0; i < size; ++i) {
        char32_t point = text[i];
        if (point >= 0xd800 && point < 0xdc00 && i + 1 < size && text[i + 1] >= 0xdc00
            && text[i + 1] < 0xe000)
            point = 0x10000 + ((point - 0xd800) << 10) + (text[++i] - 0xdc00);
        if (point < 0x80) {
            bytes += static_cast<char>(point);
        } else if (point < 0x800) {
            bytes += static_cast<char>(0xc0 | point >> 6);
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else if (point < 0x10000) {
            bytes += static_cast<char>(0xe0 | point >> 12);
            bytes += static_cast<char>(0x80 | (point >> 6 & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            bytes += static_cast<char>(0xf0 | point >> 18);
            bytes += static_cast<char>(0x80 | (point >> 12 & 0x3f));
            bytes += static_cast<char>(0x80 | (point >> 6 & 0x3f));
            bytes += static_cast<char>(0x80 | (point & 0x3f));
        }
    }
    return bytes;
}

// The `\\?\` form of an absolute path, which takes paths of any length and names as they are.
inline std::wstring longForm(const std::wstring& path)
{
    if (path.starts_with(L"\\\\?\\"))
        return path;
    if (path.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

inline std::wstring nativePath(const QByteArray& path)
{
    return longForm(wideFromWtf8(path));
}

// The UNC form of a path on a local drive, through the drive's administrative share.
inline QByteArray uncForm(const QByteArray& path)
{
    return "\\\\localhost\\" + path.left(1) + '$' + path.mid(2);
}
#else
inline bool underWine()
{
    return false;
}
#endif

// Bytes that no text gives: not UTF-8 on Linux; on Windows, whose names are UTF-16, the WTF-8 form
// of an unpaired surrogate, the one thing a name can hold that is not text.
#ifdef _WIN32
inline const QByteArray notText("\xed\xa0\x80");
#else
inline const QByteArray notText("\xff\xfe");
#endif

// Why the system cannot hold a file named `name`, or empty where it can.
inline QString whyNameNotHeld(const QByteArray& name)
{
    if (underWine() && name.contains(notText))
        return QStringLiteral("Wine keeps names as UTF-8 on the Linux side, where a name with an unpaired "
                              "surrogate has no form; Windows holds it");
    return {};
}

} // namespace TestSystem

// Skips the test where the system cannot hold a file named `name`.
#define SKIP_UNLESS_NAME_HELD(name)                                                                          \
    do {                                                                                                     \
        const QString whyNot = TestSystem::whyNameNotHeld(name);                                             \
        if (!whyNot.isEmpty())                                                                               \
            QSKIP(qPrintable(whyNot));                                                                       \
    } while (false)

// A real folder tree under a temporary folder, in the system's temporary folder or below `base`.
// Paths are bytes, as the platform layer takes them, with the system's separators; relative paths
// are written with '/' on every system. Names that are not text can be made too.
class TestTree final
{
public:
    explicit TestTree(const QByteArray& base = {})
        : m_dir(base.isEmpty() ? QDir::tempPath() + QStringLiteral("/tree-XXXXXX")
                               : QFile::decodeName(base) + QStringLiteral("/tree-XXXXXX"))
    {
        QVERIFY(m_dir.isValid());
    }
    // QTemporaryDir works on decoded names and cannot remove names that are not text, nor look into
    // folders a test made read-only, nor tell a junction from a folder, so the tree is removed here.
    ~TestTree() { removeBelow(root()); }
    Q_DISABLE_COPY_MOVE(TestTree)

    QByteArray root() const { return Platform::pathFromText(m_dir.path()); }
    QByteArray path(const QByteArray& relative) const
    {
        QByteArray native = relative;
        native.replace('/', Platform::Separator);
        return root() + Platform::Separator + native;
    }
    // The path below the root of a full path, written with '/'.
    QByteArray relative(const QByteArray& fullPath) const
    {
        QByteArray below = fullPath.mid(root().size() + 1);
        below.replace(Platform::Separator, '/');
        return below;
    }

    void createDir(const QByteArray& relative) const
    {
        QVERIFY2(makeFolder(path(relative)), relative.constData());
    }

    void createFile(const QByteArray& relative, const QByteArray& content = {}) const
    {
        QVERIFY2(tryCreateFile(relative, content), relative.constData());
    }

    // False where the name is taken, also by a name that differs only in case on a volume that
    // folds case.
    bool tryCreateFile(const QByteArray& relative, const QByteArray& content = {}) const;

    // `depth` folders named `component`, each in the one before, starting in `relative`, and an empty
    // file `file` in the deepest; reached by handle on Linux, so the deepest may lie beyond the
    // longest path. Returns the deepest's path with a trailing separator, or empty on failure.
    QByteArray createNested(
        const QByteArray& relative, const QByteArray& component, int depth, const QByteArray& file) const;

    // A symbolic link to `target`, which is written with '/'; on Windows a junction where the target
    // is an absolute path of a folder, as any user can make one. False where it cannot be made.
    bool createLink(const QByteArray& relative, const QByteArray& target) const;

    // Why no link can be made here, or empty where links can be made.
    static QString whyNoLinks();

#ifdef _WIN32
    // Gives an entry the attribute that hides it in Explorer, and `more` besides.
    void makeHidden(const QByteArray& relative, DWORD more = 0) const
    {
        const std::wstring native = TestSystem::nativePath(path(relative));
        QVERIFY(SetFileAttributesW(
            native.c_str(), GetFileAttributesW(native.c_str()) | FILE_ATTRIBUTE_HIDDEN | more));
    }
#endif

    // Makes a folder refuse new and renamed entries. Returns why it cannot, or empty once done.
    QString makeReadOnly(const QByteArray& relative) const;

    // Every file below the root, relative path to content (a link maps to "->" and its target).
    QMap<QByteArray, QByteArray> snapshot() const
    {
        QMap<QByteArray, QByteArray> files;
        collect(QByteArray(), files);
        return files;
    }

private:
    enum class Kind { File, Folder, Link };
    struct Entry
    {
        QByteArray name;
        Kind kind = Kind::File;
    };

    void collect(const QByteArray& relative, QMap<QByteArray, QByteArray>& files) const
    {
        for (const Entry& entry : entries(relative.isEmpty() ? root() : path(relative))) {
            const QByteArray child = relative.isEmpty() ? entry.name : relative + '/' + entry.name;
            if (entry.kind == Kind::Folder)
                collect(child, files);
            else if (entry.kind == Kind::Link)
                files.insert(child, "->" + linkTarget(path(child)));
            else
                files.insert(child, readFile(path(child)));
        }
    }

    // The entries of a folder, "." and ".." left out, links never taken for what they lead to.
    static QList<Entry> entries(const QByteArray& folder);
    static bool makeFolder(const QByteArray& path);
    static QByteArray linkTarget(const QByteArray& link);
    static QByteArray readFile(const QByteArray& filePath);
    static void removeBelow(const QByteArray& folder);

    QTemporaryDir m_dir;
};

#ifdef _WIN32

namespace TestSystem {

// The reparse data of a junction or a symbolic link, as FSCTL_GET_REPARSE_POINT gives it.
struct ReparseData
{
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    // Symbolic links have a ULONG of flags here, before their names; junctions do not.
    WCHAR names[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(WCHAR)];
};

// A junction at `link` to the folder `target`: a folder whose reparse point names the target.
inline bool makeJunction(const std::wstring& link, const std::wstring& target)
{
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    const HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool made = false;
    if (handle != INVALID_HANDLE_VALUE) {
        const std::wstring substitute = L"\\??\\" + target;
        ReparseData data {};
        data.tag = IO_REPARSE_TAG_MOUNT_POINT;
        // Both names are followed by a NUL.
        data.substituteLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
        data.printOffset = data.substituteLength + sizeof(WCHAR);
        data.printLength = static_cast<WORD>(target.size() * sizeof(WCHAR));
        std::memcpy(data.names, substitute.data(), data.substituteLength);
        std::memcpy(data.names + substitute.size() + 1, target.data(), data.printLength);
        data.dataLength = 8 + data.printOffset + data.printLength + sizeof(WCHAR);
        DWORD returned = 0;
        made = DeviceIoControl(
            handle, FSCTL_SET_REPARSE_POINT, &data, 8 + data.dataLength, nullptr, 0, &returned, nullptr);
        CloseHandle(handle);
    }
    if (!made)
        RemoveDirectoryW(link.c_str());
    return made;
}

} // namespace TestSystem

inline QList<TestTree::Entry> TestTree::entries(const QByteArray& folder)
{
    QList<Entry> found;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW((TestSystem::nativePath(folder) + L"\\*").c_str(), FindExInfoBasic,
        &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return found;
    do {
        const QByteArray name = TestSystem::wtf8FromWide(data.cFileName, std::wcslen(data.cFileName));
        if (name == "." || name == "..")
            continue;
        const Kind kind = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? Kind::Link
            : data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY                 ? Kind::Folder
                                                                               : Kind::File;
        found.append({ name, kind });
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

inline bool TestTree::makeFolder(const QByteArray& path)
{
    return CreateDirectoryW(TestSystem::nativePath(path).c_str(), nullptr);
}

inline bool TestTree::tryCreateFile(const QByteArray& relative, const QByteArray& content) const
{
    const HANDLE file = CreateFileW(TestSystem::nativePath(path(relative)).c_str(), GENERIC_WRITE, 0, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const auto size = static_cast<DWORD>(content.size());
    const bool done = WriteFile(file, content.constData(), size, &written, nullptr) && written == size;
    CloseHandle(file);
    return done;
}

inline QByteArray TestTree::createNested(
    const QByteArray& relative, const QByteArray& component, int depth, const QByteArray& file) const
{
    // The `\\?\` form reaches paths up to the system's longest.
    QByteArray deepest = relative;
    for (int level = 0; level < depth; ++level) {
        deepest += '/' + component;
        if (!makeFolder(path(deepest)))
            return {};
    }
    return tryCreateFile(deepest + '/' + file) ? path(deepest) + Platform::Separator : QByteArray();
}

inline bool TestTree::createLink(const QByteArray& relative, const QByteArray& target) const
{
    const std::wstring link = TestSystem::nativePath(path(relative));
    QByteArray nativeTarget = target;
    nativeTarget.replace('/', '\\');
    const std::wstring to = TestSystem::wideFromWtf8(nativeTarget);
    const bool absolute = target.size() > 2 && target[1] == ':';
    // Where the link leads, resolved as the system will, to tell a link to a folder from one to a file.
    const QByteArray linkPath = path(relative);
    const QByteArray resolved
        = absolute ? nativeTarget : linkPath.left(linkPath.lastIndexOf('\\') + 1) + nativeTarget;
    const DWORD attributes = GetFileAttributesW(TestSystem::wideFromWtf8(resolved).c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (absolute && folder)
        return TestSystem::makeJunction(link, to);
    CreateSymbolicLinkW(link.c_str(), to.c_str(),
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0));
    // Wine reports success and makes nothing, so the link itself is looked for.
    const DWORD made = GetFileAttributesW(link.c_str());
    return made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_REPARSE_POINT);
}

inline QString TestTree::whyNoLinks()
{
    if (TestSystem::underWine())
        return QStringLiteral(
            "Wine 8 makes neither symbolic links nor junctions: CreateSymbolicLinkW reports "
            "success and makes nothing, and FSCTL_SET_REPARSE_POINT is not supported");
    static const QString whyNot = [] {
        TestTree probe;
        probe.createFile("file");
        return probe.createLink("link", "file")
            ? QString()
            : QStringLiteral("symbolic links need Developer Mode or the privilege to create them");
    }();
    return whyNot;
}

inline QString TestTree::makeReadOnly(const QByteArray& relative) const
{
    if (TestSystem::underWine())
        return QStringLiteral("Wine keeps a folder's access control list but does not enforce it");
    // Everyone is denied adding files and folders to this folder only; removing stays allowed, so
    // the tree can still be removed afterwards.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(D;;0x6;;;WD)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return QStringLiteral("no security descriptor");
    const bool done = SetFileSecurityW(
        TestSystem::nativePath(path(relative)).c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return done ? QString() : QStringLiteral("this file system keeps no access control lists");
}

inline QByteArray TestTree::linkTarget(const QByteArray& link)
{
    const HANDLE handle = CreateFileW(TestSystem::nativePath(link).c_str(), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    auto data = std::make_unique<TestSystem::ReparseData>();
    DWORD returned = 0;
    const bool read = DeviceIoControl(
        handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.get(), sizeof *data, &returned, nullptr);
    CloseHandle(handle);
    if (!read)
        return "<unreadable>";
    const WCHAR* names = data->names + (data->tag == IO_REPARSE_TAG_SYMLINK ? 2 : 0);
    return TestSystem::wtf8FromWide(
        names + data->printOffset / sizeof(WCHAR), data->printLength / sizeof(WCHAR));
}

inline QByteArray TestTree::readFile(const QByteArray& filePath)
{
    const HANDLE file = CreateFileW(TestSystem::nativePath(filePath).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    QByteArray content;
    char buffer[4096];
    DWORD size = 0;
    while (ReadFile(file, buffer, sizeof buffer, &size, nullptr) && size > 0)
        content.append(buffer, size);
    CloseHandle(file);
    return content;
}

// Junctions and symbolic links are removed themselves, never what they lead to.
inline void TestTree::removeBelow(const QByteArray& folder)
{
    for (const Entry& entry : entries(folder)) {
        const QByteArray child = folder + '\\' + entry.name;
        const std::wstring native = TestSystem::nativePath(child);
        SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.kind == Kind::Folder)
            removeBelow(child);
        if (!DeleteFileW(native.c_str()))
            RemoveDirectoryW(native.c_str());
    }
}

#else

inline QList<TestTree::Entry> TestTree::entries(const QByteArray& folder)
{
    QList<Entry> found;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat status
        {
        };
        ::lstat((folder + '/' + name).constData(), &status);
        found.append({ name,
            S_ISDIR(status.st_mode)       ? Kind::Folder
                : S_ISLNK(status.st_mode) ? Kind::Link
                                          : Kind::File });
    }
    ::closedir(dir);
    return found;
}

inline bool TestTree::makeFolder(const QByteArray& path)
{
    return ::mkdir(path.constData(), 0755) == 0;
}

inline bool TestTree::tryCreateFile(const QByteArray& relative, const QByteArray& content) const
{
    const int fd = ::open(path(relative).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, content.constData(), content.size()) == content.size();
    ::close(fd);
    return done;
}

inline QByteArray TestTree::createNested(
    const QByteArray& relative, const QByteArray& component, int depth, const QByteArray& file) const
{
    QByteArray deepest = path(relative) + '/';
    int fd = ::open(deepest.constData(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        const int child = ::mkdirat(fd, component.constData(), 0755) == 0
            ? ::openat(fd, component.constData(), O_RDONLY | O_DIRECTORY)
            : -1;
        ::close(fd);
        fd = child;
        deepest += component + '/';
    }
    const int made = fd < 0 ? -1 : ::openat(fd, file.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0)
        ::close(fd);
    if (made < 0)
        return {};
    ::close(made);
    return deepest;
}

inline bool TestTree::createLink(const QByteArray& relative, const QByteArray& target) const
{
    return ::symlink(target.constData(), path(relative).constData()) == 0;
}

inline QString TestTree::whyNoLinks()
{
    return {};
}

namespace TestSystem {

inline bool setImmutable(int fd, bool immutable)
{
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace TestSystem

// By its mode for an ordinary user, by the immutable flag for root, whom modes do not stop.
inline QString TestTree::makeReadOnly(const QByteArray& relative) const
{
    if (::geteuid() != 0)
        return ::chmod(path(relative).constData(), 0555) == 0 ? QString()
                                                              : QStringLiteral("the mode cannot be changed");
    const int fd = ::open(path(relative).constData(), O_RDONLY | O_DIRECTORY);
    const bool done = fd >= 0 && TestSystem::setImmutable(fd, true);
    if (fd >= 0)
        ::close(fd);
    return done ? QString() : QStringLiteral("this file system cannot make a folder immutable");
}

inline QByteArray TestTree::linkTarget(const QByteArray& link)
{
    char target[4096];
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    return QByteArray(target, size < 0 ? 0 : size);
}

inline QByteArray TestTree::readFile(const QByteArray& filePath)
{
    QByteArray content;
    const int fd = ::open(filePath.constData(), O_RDONLY);
    if (fd < 0)
        return "<unreadable>";
    char buffer[4096];
    ssize_t size = 0;
    while ((size = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, size);
    ::close(fd);
    return content;
}

namespace TestSystem {

// Works through folder handles, so it also reaches folders nested deeper than the longest path.
inline void removeBelow(int parentFd, const char* name)
{
    // Opens up a folder a test made read-only; where that fails, the removal below leaves it.
    std::ignore = ::fchmodat(parentFd, name, 0700, 0);
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return;
    setImmutable(fd, false);
    DIR* dir = ::fdopendir(fd);
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray child(entry->d_name);
        if (child != "." && child != "..")
            names.append(child);
    }
    for (const QByteArray& child : names) {
        if (::unlinkat(fd, child.constData(), 0) != 0) {
            removeBelow(fd, child.constData());
            ::unlinkat(fd, child.constData(), AT_REMOVEDIR);
        }
    }
    ::closedir(dir);
}

} // namespace TestSystem

inline void TestTree::removeBelow(const QByteArray& folder)
{
    TestSystem::removeBelow(AT_FDCWD, folder.constData());
}

#endif
