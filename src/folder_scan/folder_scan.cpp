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

void scanOneFolder(const QByteArray& path, const NameFilter& filter, ScanContext& context)
{
    try {
        const QByteArray dir = folderText(path);

        QByteArrayList subfolders;
        {
            // The listing is closed before descending, so at most one is open at a time.
            Platform::DirListing listing(dir);
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

        for (const QByteArray& name : std::as_const(subfolders))
            scanOneFolder(dir + name + Platform::Separator, filter, context);
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
    return path.endsWith(Platform::Separator) ? path : path + Platform::Separator;
}

void AddFileRow(FileListModel& list, const QByteArray& folder, QByteArrayView base, QByteArrayView ext)
{
    list.appendRow(folder, base, ext);
}

void ScanFolder(const QByteArray& path, const QString& filter, ScanContext& context)
{
    const NameFilter nameFilter(filter);
    scanOneFolder(path, nameFilter, context);
}

} // namespace FolderAllList
