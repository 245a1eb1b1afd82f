#pragma once

#include "file_list/file_list_model.h"

#include <QByteArray>

#include <functional>
#include <vector>

// Whether a pass only shows the new names, marking the rows that would fail, or also renames.
enum class PassKind { Preview, Execute };

// What a pass's value replaces in each checked row's name: its base (the rule's new names) or its
// extension.
enum class NameMode { NewBase, NewExtension };

// A file that an execute or an undo could not rename, and why.
struct FileFailure
{
    QByteArray path; // where the file is now, raw file-system bytes
    RowMark reason = RowMark::Failed;
    bool operator==(const FileFailure&) const = default;
};

// Told of each failure as it happens, before the next file is moved, on the thread that started the
// pass.
using FailureReport = std::function<void(const FileFailure&)>;

// How a pass ended.
enum class PassEnd {
    Completed, // every row was reached
    Stopped, // the user or the window stopped it before its last row
    CutShort, // its volume or searched folder was gone, so no later move could work
};

// What an execute or an undo did; a preview's findings are the rows' marks, and how many there are.
struct PassResult
{
    int renamed = 0; // files renamed, or taken back
    int foreseen = 0; // of a preview: the checked rows it marks as bound to fail
    PassEnd end = PassEnd::Completed;
    std::vector<FileFailure> failures; // in the order they happened
    // Of an execute: the errno value of why its record could not be written, so that it can be taken
    // back only while its window is open; else 0.
    int recordError = 0;
};
