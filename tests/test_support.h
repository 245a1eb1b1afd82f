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
    void open(const QString& title, const QString& text, std::function<void()> closed) override
    {
        shown.append({ title, text });
        if (whileShown)
            whileShown();
        closed();
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
    bool tryCreateFile(const QByteArray& relative, const QByteArray& content = {}) const
    {
        return makeFile(path(relative), content);
    }

    // A file or a folder at a full path; false where it cannot be made, or the name is taken.
    static bool makeFile(const QByteArray& path, const QByteArray& content = {});
    static bool makeFolder(const QByteArray& path);

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
    static QByteArray linkTarget(const QByteArray& link);
    static QByteArray readFile(const QByteArray& filePath);
    static void removeBelow(const QByteArray& folder);

    QTemporaryDir m_dir;
};
