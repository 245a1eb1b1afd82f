#pragma once

#include "pass_result.h"
#include "platform/file_mover.h"
#include "rename_journal.h"

#include <span>

class Runner;

// Takes back the moves of `journal`, newest first, each with the same safe move as an execute, and
// only where the searched folder and the file's folder are still the ones the execute found and the
// new name still names the file it gave that name to; on the runner's thread. Every move that cannot
// be taken back is reported with the file's present path. Stopped, the journal keeps the moves not
// yet reached. The executes before it, `earlier`, oldest first, are told which file each name it
// took a file back to now names, for their own undo.
PassResult undoRenames(RenameJournal& journal, std::span<RenameJournal> earlier, Platform::FileMover& mover,
    Runner& runner, const FailureReport& report);
