#include "folder_scan.h"

#include "app_identity.h"
#include "dialog/message_boxes.h"
#include "file_list/file_list_model.h"
#include "name_filter.h"
#include "platform/platform.h"

#include <QByteArrayList>

namespace FolderAllList {

namespace {

constexpr int entriesBetweenYields = 50;

bool isDotOrDotDot(QByteArrayView name)
{
    return name == QByteArrayView(".") || name == QByteArrayView("..");
}

// `folder` is open to be listed and `dir` is its folder text.
void scanOneFolder(const Platform::FolderHandle& folder, const QByteArray& dir, const NameFilter& filter,
    ScanContext& context)
{
    try {
        QByteArrayList subfolders;
        {
            // The listing is closed before descending, so at most one is open at a time; only the
            // handles of the folders above stay open.
            Platform::DirListing listing(folder);
            Platform::DirEntry entry;
            int entryCounter = 0;
            while (listing.next(entry)) {
                if (++entryCounter == entriesBetweenYields) {
                    entryCounter = 0;
                    context.yieldToEventLoop();
                }
                if (entry.isDirectory) {
                    if (!isDotOrDotDot(entry.name))
                        subfolders.append(entry.name.toByteArray());
                } else if (filter.matches(entry.name)) {
                    const SplitName split = SplitFileName(entry.name);
                    context.addFileRow(dir, split.base, split.ext);
                }
            }
        }

        // Each folder is opened by its name in the folder above, never through a link: a folder
        // swapped for a link after the listing above is skipped, as is one whose path has grown
        // longer than the system takes.
        for (const QByteArray& name : std::as_const(subfolders)) {
            const QByteArray subdir = dir + name + Platform::Separator;
            if (!Platform::fitsPathLimit(subdir))
                continue;
            const Platform::FolderHandle subfolder = Platform::openSubfolderToList(folder, name);
            if (subfolder.isOpen())
                scanOneFolder(subfolder, subdir, filter, context);
        }
    } catch (...) {
        context.messages.show(AppIdentity::applicationTitle(), QStringLiteral("请填写正确的规则！"));
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
    const QByteArray dir = folderText(path);
    // The folder as typed: links in the path are followed.
    const Platform::FolderHandle folder = Platform::openFolderToList(dir);
    if (!folder.isOpen())
        return {};
    scanOneFolder(folder, dir, nameFilter, context);
    return folder.identity();
}

} // namespace FolderAllList
