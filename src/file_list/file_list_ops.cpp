#include "file_list_ops.h"

#include "rename_session.h"

namespace F1MDE {

bool SearchFiles(RenameSession& session, const QByteArray& path, const QString& filter, Runner& runner,
    MessageBoxes& messages)
{
    return session.search(path, filter, runner, messages);
}

PassResult ApplyNewNames(RenameSession& session, const QByteArray& value, PassKind kind, NameMode mode,
    Runner& runner, const FailureReport& report)
{
    return session.apply(value, kind, mode, runner, report);
}

} // namespace F1MDE
