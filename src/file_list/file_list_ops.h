#pragma once

#include "pass_result.h"

#include <QByteArray>
#include <QString>

class MessageBoxes;
class RenameSession;
class Runner;

// The operations on the file list: filling it from a search, and previewing and renaming.
namespace F1MDE {

// Empties the list, scans `path` for names containing `filter`, then checks every row; whether the
// runner stopped it.
bool SearchFiles(RenameSession& session, const QByteArray& path, const QString& filter, Runner& runner,
    MessageBoxes& messages);

// Previews the new names of the checked rows under `value`, marking the rows that would fail, and for
// an execute renames the files, reporting each failure as it happens.
PassResult ApplyNewNames(RenameSession& session, const QByteArray& value, PassKind kind, NameMode mode,
    Runner& runner, const FailureReport& report);

} // namespace F1MDE
