#include "file_list_ops.h"

#include "file_list_model.h"
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

int CountForeseenFailures(const FileListModel& list)
{
    int count = 0;
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.isChecked(row) && kindOf(list.mark(row)) == MarkKind::Foreseen)
            ++count;
    }
    return count;
}

} // namespace F1MDE
