#include "folder_scan.h"

#include "file_list/file_list_model.h"
#include "name_filter.h"
#include "platform/platform.h"
#include "read_ahead.h"
#include "runner/runner.h"

#include <memory>
#include <utility>

namespace FolderAllList {

namespace {

constexpr int entriesBetweenYields = 50;

bool stopRequested(const ScanContext& context)
{
    return context.runner.stopRequested(RenameProgress::Work::Searching);
}

void tellFailure(ScanContext& context, const QByteArray& folder)
{
    context.folderFailed(FolderFailure { folder });
}

// Adds the rows of one listed folder and yields every 50 of its entries, on the window's thread.
void scanOneFolder(ReadAhead& readAhead, const std::shared_ptr<Folder>& folder, const NameFilter& filter,
    ScanContext& context)
{
    try {
        int entryCounter = 0;
        // False once the walk is to stop, which it is asked after every yield.
        const auto countEntry = [&] {
            if (++entryCounter < entriesBetweenYields)
                return true;
            entryCounter = 0;
            context.yieldToEventLoop();
            return !stopRequested(context);
        };
        const auto addIfMatching = [&](QByteArrayView name) {
            if (filter.matches(name)) {
                const SplitName split = SplitFileName(name);
                context.addFileRow(folder->dir, split.base, split.ext);
            }
        };
        const auto walkEntries = [&] {
            const QByteArray entries = std::exchange(folder->entries, {});
            for (qsizetype at = 0; at < entries.size();) {
                if (!countEntry())
                    return false;
                if (entries[at++] == otherEntry)
                    continue;
                const qsizetype end = entries.indexOf('\0', at);
                addIfMatching(QByteArrayView(entries).sliced(at, end - at));
                at = end + 1;
            }
            return true;
        };
        if (!walkEntries())
            return;
        // A large folder's other entries are listed a part at a time as the walk gets to them, on a
        // listing thread, so that a slow listing never holds the window.
        const bool listedMore = folder->rest != nullptr;
        while (folder->rest) {
            readAhead.listMore(folder, context.runner);
            if (!walkEntries())
                return;
        }
        if (folder->failed) {
            // Its subfolders are not entered, whether listed ahead or not.
            readAhead.dropBelow(*folder);
            tellFailure(context, folder->dir);
            return;
        }
        if (listedMore)
            readAhead.addSubfolders(folder, std::exchange(folder->laterSubfolders, {}));
    } catch (...) {
        readAhead.dropBelow(*folder);
        tellFailure(context, folder->dir);
    }
}

} // namespace

SplitName SplitFileName(QByteArrayView name)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
        return { name, {} };
    return { name.first(dot), name.sliced(dot) };
}

QByteArray folderText(const QByteArray& path)
{
    return !path.isEmpty() && Platform::isSeparator(path.back()) ? path : path + Platform::Separator;
}

void AddFileRow(FileListModel& list, const QByteArray& folder, QByteArrayView base, QByteArrayView ext)
{
    list.appendRow(folder, base, ext);
}

Platform::FolderIdentity ScanFolder(const QByteArray& path, const QString& filter, ScanContext& context)
{
    const NameFilter nameFilter(filter);
    Platform::allowOneOpenFolderPerLevel();
    // Even the searched folder is opened on a listing thread: a share that does not answer holds
    // that thread, not the window.
    const auto root = std::make_shared<Folder>();
    root->dir = folderText(path);
    Platform::FolderIdentity identity;
    try {
        ReadAhead readAhead(root, context.foldersReadAhead);
        while (!stopRequested(context)) {
            const std::shared_ptr<Folder> folder = readAhead.next(context.runner);
            if (!folder)
                break;
            if (folder == root)
                identity = folder->handle.identity();
            if (folder->handle.isOpen())
                scanOneFolder(readAhead, folder, nameFilter, context);
        }
    } catch (...) {
        tellFailure(context, root->dir); // no thread to list folders could be started
    }
    return identity;
}

} // namespace FolderAllList
