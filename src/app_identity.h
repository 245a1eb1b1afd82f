#pragma once

#include <QString>

// Who the program says it is: command name and version, window title, message-box title, contact
// line.
namespace AppIdentity {

inline QString programName()
{
    return QStringLiteral("batch-renamer");
}

// The build passes the project's version in.
inline QString version()
{
    return QStringLiteral(BATCH_RENAMER_VERSION);
}

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
