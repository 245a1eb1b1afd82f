#include "test_support.h"

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
bool makeJunction(const std::wstring& link, const std::wstring& target)
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

QList<TestTree::Entry> TestTree::entries(const QByteArray& folder)
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

bool TestTree::makeFolder(const QByteArray& path)
{
    return CreateDirectoryW(TestSystem::nativePath(path).c_str(), nullptr);
}

bool TestTree::makeFile(const QByteArray& path, const QByteArray& content)
{
    const HANDLE file = CreateFileW(TestSystem::nativePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const auto size = static_cast<DWORD>(content.size());
    const bool done = WriteFile(file, content.constData(), size, &written, nullptr) && written == size;
    CloseHandle(file);
    return done;
}

QByteArray TestTree::createNested(
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

bool TestTree::createLink(const QByteArray& relative, const QByteArray& target) const
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

QString TestTree::whyNoLinks()
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

QString TestTree::makeReadOnly(const QByteArray& relative) const
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

QByteArray TestTree::linkTarget(const QByteArray& link)
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

QByteArray TestTree::readFile(const QByteArray& filePath)
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
void TestTree::removeBelow(const QByteArray& folder)
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

QList<TestTree::Entry> TestTree::entries(const QByteArray& folder)
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

bool TestTree::makeFolder(const QByteArray& path)
{
    return ::mkdir(path.constData(), 0755) == 0;
}

bool TestTree::makeFile(const QByteArray& path, const QByteArray& content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, content.constData(), content.size()) == content.size();
    ::close(fd);
    return done;
}

QByteArray TestTree::createNested(
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

bool TestTree::createLink(const QByteArray& relative, const QByteArray& target) const
{
    return ::symlink(target.constData(), path(relative).constData()) == 0;
}

QString TestTree::whyNoLinks()
{
    return {};
}

namespace TestSystem {

bool setImmutable(int fd, bool immutable)
{
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace TestSystem

// By its mode for an ordinary user, by the immutable flag for root, whom modes do not stop.
QString TestTree::makeReadOnly(const QByteArray& relative) const
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

QByteArray TestTree::linkTarget(const QByteArray& link)
{
    char target[4096];
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    return QByteArray(target, size < 0 ? 0 : size);
}

QByteArray TestTree::readFile(const QByteArray& filePath)
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
void removeBelow(int parentFd, const char* name)
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

void TestTree::removeBelow(const QByteArray& folder)
{
    TestSystem::removeBelow(AT_FDCWD, folder.constData());
}

#endif
