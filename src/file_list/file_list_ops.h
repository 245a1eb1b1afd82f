#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

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
};

// Gives every checked row the preview value & ext (name mode) or base & value (extension mode);
// with `sMode` also moves each checked file to its preview name in its own folder, reports every
// failed move and shows how many files were renamed. An existing file is never replaced. Between
// moves the pass lets pending events through and stops when the progress asks it to; the count
// shown is then that of the files renamed so far.
void ApplyNewNames(
    FileListModel& list, const QByteArray& value, bool sMode, bool extensionMode, RenameFeedback& feedback);

} // namespace F1MDE
