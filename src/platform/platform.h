#pragma once

// The only place that talks to the operating system. Paths and names are raw bytes, exactly as the
// file system holds them, so that a name that is not valid UTF-8 passes through unchanged. On
// Windows, whose names are UTF-16, the bytes are the names' WTF-8 form, which carries even an
// unpaired surrogate unchanged both ways.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <utility>

namespace Platform {

// The separator folder texts are built with; Windows also takes '/' in a typed path.
#ifdef _WIN32
inline constexpr char Separator = '\\';
#else
inline constexpr char Separator = '/';
#endif

bool isSeparator(char c);

// A path typed or chosen in the window, as the file system names it, with the system's separators.
QByteArray pathFromText(const QString& text);

// The program's command line as the user wrote it, the program's name first. Windows keeps it in
// UTF-16, which `argv` holds only as far as the code page reaches; there a quoted path ending in a
// backslash, as Explorer hands over a drive ("C:\"), keeps its backslash.
QStringList commandLineArguments(int argc, char* argv[]);

enum class OutputStream { Standard, Error };
// Writes `text` where the command line that started the program reads it: UTF-8 into a pipe or a
// file, and on a Windows console the text itself, whatever its code page; a Windows program started
// from a console without redirection attaches to that console to write there.
void printText(OutputStream stream, const QString& text);

// Whether `path` names an entry, without following a final symbolic link.
bool entryExists(const QByteArray& path);

// What a notice that screen readers speak tells: the result of a command the user ran, or the state
// a key of the user's has just given a control.
enum class Notice { Result, State };
// Has the system's screen readers speak `text` for the window whose native handle is `window`,
// wherever the keyboard focus is. On Windows 10 1709 and later a UI Automation notification, which
// Narrator speaks and NVDA reports for the foreground window; nothing on older Windows, nor on
// Linux, where the window's own notification object reaches Orca through AT-SPI.
void raiseNotice(quintptr window, const QString& text, Notice notice);
// Whether raiseNotice() reaches the system's screen readers here: on Windows 10 1709 and later only.
bool raisesNotices();

// Which folder a handle holds, whatever path reached it. Two read at the same time are of one folder
// when they are equal; for two read at different times, see stillSameFolder().
struct FolderIdentity
{
    quint64 volume = 0;
    quint64 index = 0; // the folder's number on its volume; never 0 for a folder that was opened
    quint64 indexHigh = 0; // the upper half where the number is 128 bits wide (ReFS), else 0
    // Where the volume gives the folder no number (the root of FAT and exFAT, some network file
    // systems): when it was made, as the volume gives it; else 0.
    quint64 born = 0;
    // On FAT or exFAT, as Windows reads them: numbers are where files' entries lie, and times local.
    bool fat = false;
    bool operator==(const FolderIdentity&) const = default;
};

// A folder held open, so that the scan and the moves name it by handle rather than by a path that
// another program could redirect meanwhile.
class FolderHandle final
{
public:
    FolderHandle() = default;
    ~FolderHandle(); // the one place that knows the system's call to close a handle
    FolderHandle(FolderHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, noHandle))
        , m_identity(other.m_identity)
    {
    }
    FolderHandle& operator=(FolderHandle&& other) noexcept
    {
        if (this != &other) {
            const FolderHandle held(std::move(*this)); // closed as it goes
            m_handle = std::exchange(other.m_handle, noHandle);
            m_identity = other.m_identity;
        }
        return *this;
    }
    Q_DISABLE_COPY(FolderHandle)

    bool isOpen() const { return m_handle != noHandle; }
    // The file system the folder lies on.
    quint64 volume() const { return m_identity.volume; }
    FolderIdentity identity() const { return m_identity; }
    // The system's own handle: a file descriptor, or a Windows HANDLE.
    qintptr native() const { return m_handle; }

private:
    friend FolderHandle openFolder(const QByteArray& path);
    friend FolderHandle openFolderToList(const QByteArray& path);
    friend FolderHandle openSubfolderToList(const FolderHandle& parent, const QByteArray& name);
    friend FolderHandle openFolderBeneath(const FolderHandle& base, QByteArrayView relative);
    friend FolderHandle openFolderByComponents(const FolderHandle& base, QByteArrayView relative);
    static constexpr qintptr noHandle = -1;
    explicit FolderHandle(qintptr handle);

    qintptr m_handle = noHandle;
    FolderIdentity m_identity;
};

// The folder at `path`, reached as typed: symbolic links on the way are followed.
FolderHandle openFolder(const QByteArray& path);
// The same, opened so that it can also be listed.
FolderHandle openFolderToList(const QByteArray& path);
// The folder `name` of `parent`, opened so that it can be listed; not open when `name` is a
// symbolic link or anything but a folder.
FolderHandle openSubfolderToList(const FolderHandle& parent, const QByteArray& name);
// The folder `relative` below `base` ("" is `base` itself), reached without following a symbolic
// link at any level and without leaving `base`; not open when it cannot be reached that way.
FolderHandle openFolderBeneath(const FolderHandle& base, QByteArrayView relative);
// The same, one component at a time; what openFolderBeneath() does where the kernel cannot.
FolderHandle openFolderByComponents(const FolderHandle& base, QByteArrayView relative);

// Whether the system takes `path` as a whole; a folder with a longer path cannot be listed.
bool fitsPathLimit(QByteArrayView path);

// Makes room for one open folder per level of the deepest tree the path limit allows, since the
// scan holds each level's folder open while it walks below it.
void allowOneOpenFolderPerLevel();

struct DirEntry
{
    QByteArrayView name; // valid until the next call of DirListing::next()
    bool isDirectory = false; // a real directory; a link to one is not
    bool isHidden = false; // hidden by the system's convention: a leading "." or a hidden attribute
    bool isTrash = false; // a recycle bin or trash folder, which the scan does not enter
};

// One listing of a folder opened to be listed, in the order the file system returns it ("." and
// ".." included). The listing keeps its own handle, so the folder's may be closed meanwhile.
class DirListing final
{
public:
    explicit DirListing(const FolderHandle& folder);
    ~DirListing();
    Q_DISABLE_COPY_MOVE(DirListing)

    bool isOpen() const { return m_handle != nullptr; }
    bool next(DirEntry& entry);
    void close();

private:
    void* m_handle = nullptr;
};

// Whether `name` names an entry of `folder`, without following a symbolic link.
bool entryExists(const FolderHandle& folder, const QByteArray& name);

// Which file an entry is, whatever name reaches it: device and inode, or on Windows the volume's
// serial number and the file's id. Volumes give a removed file's number to the next file made, so
// the time the file was made, where the volume keeps it, tells the two apart. Two read at the same
// time are of one file when they are equal; for two read at different times, see stillSameFile().
struct FileIdentity
{
    quint64 volume = 0;
    quint64 index = 0;
    quint64 born = 0; // 0 where the volume does not say
    quint64 indexHigh = 0; // the upper half where the number is 128 bits wide (ReFS), else 0
    quint64 size = 0; // on FAT and exFAT, and where the volume gives no number; else 0
    bool fat = false; // as FolderIdentity::fat
    bool operator==(const FileIdentity&) const = default;
};

// Whether two identities of a file, read at different times, are of one file: the same number on
// the same volume, made at the same time. On FAT and exFAT, as Windows reads them, a file made in a
// removed one's entry takes its number, and under the same name within seconds its creation time
// too (Windows' name tunnelling), so the size must agree as well; and the times, which the volume
// keeps in local time, come in UTC converted with whatever time-zone bias is in force when asked,
// so a change of time zone or of daylight saving time since moves them by whole minutes.
bool stillSameFile(const FileIdentity& earlier, const FileIdentity& now);
// Whether two identities of a folder, read at different times, are of one folder (see
// stillSameFile()).
bool stillSameFolder(const FolderIdentity& earlier, const FolderIdentity& now);

// The file that `name` names in `folder`, without following a symbolic link; nullopt when it names
// nothing, or when the system cannot tell which file it is.
std::optional<FileIdentity> entryIdentity(const FolderHandle& folder, const QByteArray& name);

// The longest name the folder's volume holds, counted in bytes, or in UTF-16 units where the
// volume stores names in UTF-16 (FAT, exFAT, NTFS, and every volume on Windows).
struct NameLimit
{
    int length = 255;
    bool inUtf16Units = false;
};
NameLimit nameLimit(const FolderHandle& folder);

// Whether no name can be added to or removed from `folder`: its volume is mounted read-only, or
// the program may not write the folder (an immutable folder included).
enum class FolderRefusal { None, ReadOnlyVolume, NoPermission };
FolderRefusal folderRefusal(const FolderHandle& folder);

// Whether names in `folder` that differ only in letter case name the same entry. `present` is a
// name the folder holds, which the system may be asked about in other letters.
bool ignoresLetterCase(const FolderHandle& folder, const QByteArray& present);

// Whether the system refuses `name` for a file, whatever the volume: on Windows the characters and
// device names it keeps for itself. A separator, NUL, "." and ".." are refused everywhere and not
// asked here.
bool systemRefusesName(QByteArrayView name);

// The ways a file can be moved without replacing an existing target, best first. Each returns 0 on
// success or the errno value that made it fail, and never replaces an existing target.
int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to);
// Told once the file has its new name, before its old one goes: a crash between the two leaves it
// under both.
using LinkedReport = std::function<void()>;
int linkThenUnlink(
    const FolderHandle& folder, const QByteArray& from, const QByteArray& to, const LinkedReport& linked);
int checkThenRename(const FolderHandle& folder, const QByteArray& from, const QByteArray& to);
// Takes the name `name` away from `folder` where it holds the same bytes as the file `kept` names
// there, as a second name of one file does after a crash between a link and the unlink of the old
// name: on a volume that numbers its files by name (sshfs) nothing else tells. 0, EEXIST where the
// bytes differ or the two are one entry spelt two ways, or the errno value of why not; `kept` is
// never touched.
int removeSecondName(const FolderHandle& folder, const QByteArray& name, const QByteArray& kept);
// What a way returns where the file was left under both names: the new name was made, the old one
// could not be deleted, and neither could the new one again. No system's errno value.
inline constexpr int keptBothNames = -1;
// What a way returns where the file is a cloud drive's placeholder whose sync program is not running,
// so that the system's cloud filter refuses to change it; Windows alone answers so. No system's
// errno value.
inline constexpr int cloudProviderNotRunning = -2;
// What a way returns where another program has deleted the file while holding it open: its name
// goes when that program closes it, which may still cancel the deletion. Windows alone answers so.
inline constexpr int deletePending = -3;
// What a way returns where the file system put the file somewhere other than its folder and it
// could not be brought back; where it is, takePlacedElsewhere() then tells.
inline constexpr int movedElsewhere = -4;
// The full path of the file that the last way of this thread left elsewhere (movedElsewhere), once;
// empty where the system cannot say.
QByteArray takePlacedElsewhere();
// Moves the file `name` of `from`, where the file system put it in place of its own folder, back to
// `target` in `to`, never replacing an existing entry: 0, or the errno value of why not
// (movedElsewhere where it went elsewhere again).
int moveBackInto(
    const FolderHandle& from, const QByteArray& name, const FolderHandle& to, const QByteArray& target);

// Whether the volume loses a file when it refuses to rename it to a name it cannot hold.
bool dropsFilesOnRefusedNames(quint64 volume);

// The name of the first visible entry that `path` designates: the last component itself when it
// exists, or, when that component holds "*" or "?", the first entry of its parent folder that
// matches it. Trailing separators are ignored, a root ("/", "D:\", "\\server\share") gives
// itself, and hidden entries never count. Empty when nothing matches.
QByteArray firstMatchingEntry(const QByteArray& path);

} // namespace Platform
