#pragma once

#include "file_list/file_list_model.h"

#include <QByteArray>

namespace Platform {
struct FolderIdentity;
}

// What the errno value of a failed move says about it, as a row's mark.
RowMark failureOf(int error);

// A move's outcome, and when it shows that every later move of the pass would fail too, the mark
// for the files not tried.
struct MoveOutcome
{
    RowMark mark = RowMark::Renamed;
    RowMark notTried = RowMark::None; // None: the pass goes on
    QByteArray placedAt; // where the file now is, where the file system put it outside its folder

    bool failed() const { return mark != RowMark::Renamed; }
    bool endsPass() const { return notTried != RowMark::None; }
};

// `mark` of a move in the searched folder at `path` with `identity`; where the move failed for a
// reason that may be the searched folder's own (its volume or share gone, or another folder put in
// its place), the folder is asked, and then the pass ends there.
MoveOutcome outcomeInSearchedFolder(
    RowMark mark, const QByteArray& path, const Platform::FolderIdentity& identity);
