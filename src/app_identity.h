#pragma once

#include <QString>

// Who the program says it is: window title, message-box title, contact line.
namespace AppIdentity {

inline QString windowTitle()
{
    return QStringLiteral("批量文件重命名");
}

inline QString applicationTitle()
{
    return QStringLiteral("批量重命名");
}

inline QString contactLine()
{
    return QStringLiteral("EMail:rename@example.org");
}

} // namespace AppIdentity
