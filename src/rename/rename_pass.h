#pragma once

#include "pass_result.h"
#include "platform/file_mover.h"
#include "platform/platform.h"

#include <QByteArray>

class FileListModel;
struct RenameJournal;
class Runner;

// Gives every checked row the preview value & ext (NewBase) or base & value (NewExtension) and marks
// each row whose move would fail, and why: its target exists, an earlier row of its folder gets the
// same name (as the volume compares names), or the name cannot be made. Unchecked rows lose their
// marks. An execute also moves each checked file to its preview name in its own folder, marks each
// row reached with what its move did, reports every failed move and keeps each move made in `journal`,
// and, where `recordFolder` is not empty, in a record there, durable before the first move. An
// existing file is never replaced. A preview's comparing and looking up of the new names, and an execute's
// moves, run on the runner's thread, with its progress and stop: a stopped pass leaves the rows it did not
// reach unmarked, and one whose volume is gone marks them as not tried.
PassResult applyNewNames(FileListModel& list, const QByteArray& value, PassKind kind, NameMode mode,
    Platform::FileMover& mover, Runner& runner, RenameJournal& journal, const QByteArray& recordFolder,
    const FailureReport& report);
