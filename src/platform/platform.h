#pragma once

// The only place that talks to the operating system. Paths and names are raw bytes, exactly as the
// file system holds them, so that a name that is not valid UTF-8 passes through unchanged.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace Platform {

inline constexpr char Separator = '/';

struct DirEntry
{
    QByteArrayView name; // valid until the next call of DirListing::next()
    bool isDirectory = false; // a real directory; a link to one is not
};

// One open directory listing, in the order the file system returns it ("." and ".." included).
class DirListing final
{
public:
    explicit DirListing(const QByteArray& path);
    ~DirListing();
    Q_DISABLE_COPY_MOVE(DirListing)

    bool isOpen() const { return m_handle != nullptr; }
    bool next(DirEntry& entry);
    void close();

private:
    void* m_handle = nullptr;
};

// Whether `path` names an entry, without following a final symbolic link.
bool entryExists(const QByteArray& path);

// Each move returns 0 on success or the errno value that made it fail. None of them ever replaces
// an existing target.
int moveFileNoReplace(const QByteArray& from, const QByteArray& to);

// The steps of moveFileNoReplace(), in the order it tries them; public so that each can be tested.
int renameNoReplace(const QByteArray& from, const QByteArray& to);
int linkThenUnlink(const QByteArray& from, const QByteArray& to);
int checkThenRename(const QByteArray& from, const QByteArray& to);

using MoveStep = int (*)(const QByteArray& from, const QByteArray& to);
struct MoveSteps
{
    MoveStep renameNoReplace;
    MoveStep linkThenUnlink;
    MoveStep checkThenRename;
};
// moveFileNoReplace() over the given steps: the next step runs only when the file system refused
// the previous one's way of moving, never when the move itself failed.
int moveFileNoReplace(const QByteArray& from, const QByteArray& to, const MoveSteps& steps);

// The name of the first visible entry that `path` designates: the last component itself when it
// exists, or, when that component holds "*" or "?", the first entry of its parent folder that
// matches it. Trailing separators are ignored, "/" gives "/", and hidden entries (starting with
// ".") never count. Empty when nothing matches.
QByteArray firstMatchingEntry(const QByteArray& path);

} // namespace Platform
