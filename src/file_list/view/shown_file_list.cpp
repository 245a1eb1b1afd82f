#include "shown_file_list.h"

#include "file_list/file_list_model.h"
#include "mark_look.h"

ShownFileList::ShownFileList(FileListModel& list, QObject* parent)
    : QIdentityProxyModel(parent)
    , m_list(list)
{
    setSourceModel(&list);
}

int ShownFileList::columnWidthTwips(int column)
{
    static constexpr int widths[FileListModel::ColumnCount] = { 1900, 550, 1900, 900 };
    return widths[column];
}

QVariant ShownFileList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != FileListModel::PreviewColumn)
        return QIdentityProxyModel::data(index, role);
    // The rows are the list's own, so a row here is the list's row.
    switch (role) {
    case Qt::DecorationRole:
        return markIcon(kindOf(m_list.mark(index.row())));
    case Qt::ForegroundRole:
        return markColour(kindOf(m_list.mark(index.row())));
    case Qt::AccessibleTextRole:
        return spokenPreview(index);
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

QString ShownFileList::spokenPreview(const QModelIndex& index) const
{
    // Qt 6.4 names the check box's action so that Orca takes the cell for no check box and keeps
    // its state to itself; the state is said in words, and a preview no pass touched as what it
    // means rather than as the space it shows.
    const int row = index.row();
    const QString state = m_list.isChecked(row) ? QStringLiteral("已勾选") : QStringLiteral("未勾选");
    const QString preview = m_list.isPreviewed(row)
        ? QIdentityProxyModel::data(index, Qt::DisplayRole).toString()
        : QStringLiteral("未预览");
    return state + QStringLiteral("，") + preview;
}
