#include "move_failure.h"

#include "platform/platform.h"

#include <cerrno>

RowMark failureOf(int error)
{
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        return RowMark::FailedTargetExists;
    case ENOENT:
        return RowMark::FailedSourceMissing;
    case EACCES:
    case EPERM:
        return RowMark::FailedNoPermission;
    case EBUSY:
    case ETXTBSY:
        return RowMark::FailedInUse;
    case EINVAL:
    case EILSEQ:
        return RowMark::FailedNameUnusable;
    case ENAMETOOLONG:
        return RowMark::FailedNameTooLong;
    case EROFS:
        return RowMark::FailedReadOnlyVolume;
    case Platform::keptBothNames:
        return RowMark::FailedKeptBothNames;
    default:
        return RowMark::Failed;
    }
}
