// Whether a folder's volume takes changes at all.
#include "internal.h"

namespace Platform {

using namespace Windows;

FolderRefusal folderRefusal(const FolderHandle& folder)
{
    // GetVolumeInformationByHandleW is documented to set FILE_READ_ONLY_VOLUME among the file
    // system flags of a volume that is read-only (a write-protected card, a read-only mount). What
    // the folder's access list allows is not asked: each move answers for it.
    DWORD flags = 0;
    if (folder.isOpen()
        && GetVolumeInformationByHandleW(handleOf(folder), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        && (flags & FILE_READ_ONLY_VOLUME) != 0)
        return FolderRefusal::ReadOnlyVolume;
    return FolderRefusal::None;
}

} // namespace Platform
