#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

class FileListModel;
class MessageBoxes;
class RenameProgress;

// The operations on the file list: filling it from a search, and previewing and renaming.
namespace F1MDE {

// Empties the list, scans `path` for names containing `filter`, then checks every row.
void SearchFiles(FileListModel& list, const QByteArray& path, const QString& filter, MessageBoxes& messages);

struct RenameFeedback
{
    MessageBoxes& messages;
    std::function<void(const QString&)> showCompletion;
    RenameProgress* progress = nullptr; // none: nothing shows the progress and nothing stops the pass
    std::optional<Platform::MoveSteps> moveSteps = {}; // none: the system's own ways of moving
};

// Gives every checked row the preview value & ext (name mode) or base & value (extension mode);
// with `sMode` also moves each checked file to its preview name in its own folder, reports every
// failed move and shows how many files were renamed. An existing file is never replaced. The moves
// run one after another on a thread of their own, while the calling thread lets pending events
// through; the pass stops after the move in progress when the progress asks it to, and the count
// shown is then that of the files renamed so far.
void ApplyNewNames(
    FileListModel& list, const QByteArray& value, bool sMode, bool extensionMode, RenameFeedback& feedback);

} // namespace F1MDE
