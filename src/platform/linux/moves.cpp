// The three ways a file is moved within its folder, none of which replaces an existing entry.
#include "internal.h"
#include "native_calls.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace Platform {

using namespace Linux;

int renameNoReplace(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    return resultOf(Native::calls.renameat2(
        descriptor(folder), from.constData(), descriptor(folder), to.constData(), RENAME_NOREPLACE));
}

int linkThenUnlink(
    const FolderHandle& folder, const QByteArray& from, const QByteArray& to, const LinkedReport& linked)
{
    // linkat() fails with EEXIST when the target exists, so nothing can be replaced; flags 0 links
    // a symbolic link itself rather than what it points to.
    if (Native::calls.linkat(descriptor(folder), from.constData(), descriptor(folder), to.constData(), 0)
        != 0)
        return errno;
    if (linked)
        linked();
    if (Native::calls.unlinkat(descriptor(folder), from.constData(), 0) != 0) {
        const int error = errno;
        Native::calls.unlinkat(
            descriptor(folder), to.constData(), 0); // the file keeps its old name; report the move as failed
        return error;
    }
    return 0;
}

int checkThenRename(const FolderHandle& folder, const QByteArray& from, const QByteArray& to)
{
    // Best effort only: another process may create the target between the check and the rename,
    // and renameat() would then replace it. This runs only on file systems that refuse both the
    // no-replace flag and hard links, where the kernel offers no atomic way to refuse an overwrite.
    const int lookUpError = lookUp(folder, to);
    if (lookUpError != ENOENT)
        return lookUpError == 0 ? EEXIST : lookUpError;
    return resultOf(
        Native::calls.renameat(descriptor(folder), from.constData(), descriptor(folder), to.constData()));
}

int moveBackInto(
    const FolderHandle& from, const QByteArray& name, const FolderHandle& to, const QByteArray& target)
{
    return resultOf(Native::calls.renameat2(
        descriptor(from), name.constData(), descriptor(to), target.constData(), RENAME_NOREPLACE));
}

} // namespace Platform
