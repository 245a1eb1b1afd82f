// Notices for screen readers: none from the system's side, Orca hearing the window's own
// notification object through AT-SPI.
#include "platform/platform.h"

namespace Platform {

void raiseNotice(quintptr, const QString&, Notice) { }

bool raisesNotices()
{
    return false;
}

} // namespace Platform
