// What the Linux files share: the descriptor behind a handle, errno results, names the listings mark.
#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cerrno>

namespace Platform::Linux {

inline int descriptor(const FolderHandle& folder)
{
    return static_cast<int>(folder.native());
}

inline int resultOf(int returnValue)
{
    return returnValue == 0 ? 0 : errno;
}

bool isHidden(QByteArrayView name);

// The freedesktop trash folders: ".Trash", shared by every user, and ".Trash-<uid>", one user's.
bool isTrashName(QByteArrayView name);

// 0 when `name` names an entry of `folder`, else the errno of the look-up. The file system itself is
// asked: a FUSE volume keeps answering from its cache for a while after a rename made it stale.
int lookUp(const FolderHandle& folder, const QByteArray& name);

// Whether every change to the volume of mount `mountId` passes through this system, as on a local
// disk or a disk image, even through FUSE: then what the system has cached of a file's number is
// what the volume holds. A network file system is changed by other machines too.
bool changedOnlyHere(quint64 mountId);

} // namespace Platform::Linux
