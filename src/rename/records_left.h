#pragma once

#include "rename_journal.h"

#include <QByteArray>

#include <vector>

// An execute that was cut off (its program killed, or its machine down) before it reached its end.
struct CutOffExecute
{
    QByteArray searchedFolder;
    int renamed = 0; // the files the disk shows it renamed, each of which can be taken back
};

// The executes recorded in a state folder that no running window holds, as read back.
struct RecordsLeft
{
    std::vector<RenameJournal> executes; // oldest first, each held, with what the disk lets it take back
    std::vector<CutOffExecute> cutOff;
    int unreadable = 0; // records that did not parse or prove themselves, now set aside
};

// Takes every record in `folder` that no other window holds. A complete record gives its moves as
// recorded, for the undo to check; a cut-off one only the files the disk shows moved, each named as
// recorded (under its new name, or the temporary name of a change of letter case) by the file it
// recorded, its folder still the one it recorded. A record with nothing left to take back is removed.
RecordsLeft takeRecordsLeft(const QByteArray& folder);
