#include "file_list_model.h"

#include <QStringList>

#include <algorithm>

#include <limits>
#include <stdexcept>

namespace {

const QByteArray untouchedPreview = QByteArrayLiteral(" ");

QByteArray joined(QByteArrayView first, QByteArrayView second)
{
    QByteArray result;
    result.reserve(first.size() + second.size());
    result.append(first).append(second);
    return result;
}

QString decodeForDisplay(QByteArrayView bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace

FileListModel::FileListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    clear();
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_publishedRows;
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString FileListModel::displayText(int row, int column) const
{
    switch (column) {
    case PreviewColumn:
        return decodeForDisplay(preview(row));
    case FolderColumn:
        return decodeForDisplay(folder(row));
    case BaseColumn:
        return decodeForDisplay(base(row));
    case ExtColumn:
        return decodeForDisplay(ext(row));
    }
    return {};
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const MarkKind kind = index.column() == PreviewColumn ? kindOf(mark(index.row())) : MarkKind::None;
    if (kind != MarkKind::None && (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole))
        return markText(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return displayText(index.row(), index.column());
    if (role == Qt::CheckStateRole && index.column() == PreviewColumn)
        return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != PreviewColumn
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    setChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == PreviewColumn)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    static const QStringList headers = { QStringLiteral("预览"), QStringLiteral("路径"),
        QStringLiteral("源文件名"), QStringLiteral("原拓展名") };
    return headers.at(section);
}

void FileListModel::clear(const QByteArray& folder)
{
    beginResetModel();
    m_searchedFolder = folder;
    m_searchedIdentity = {};
    // Swapping with empty containers hands the memory of a large search back at once.
    std::vector<FileRow>().swap(m_rows);
    std::vector<char>().swap(m_names);
    std::vector<QByteArray>().swap(m_folders);
    m_folderNumbers = {};
    m_passes.assign(1, PreviewPass { untouchedPreview, false });
    forgetMarkDetails();
    m_publishedRows = 0;
    endResetModel();
}

void FileListModel::appendRow(const QByteArray& folder, QByteArrayView base, QByteArrayView ext)
{
    constexpr auto maxPart = std::numeric_limits<quint16>::max();
    if (base.size() > maxPart || ext.size() > maxPart)
        throw std::length_error("file name too long for the file list");
    if (m_rows.size() >= static_cast<size_t>(std::numeric_limits<int>::max()))
        throw std::length_error("too many rows for the file list");

    // A scan hands the same folder text to all rows of one folder, so comparing the shared data
    // pointer is enough to recognise the folder of the row before. Another is looked up by its
    // text: rows of one folder may come in several runs, and moves that overlap tell by its number
    // which names may meet.
    if (m_folders.empty() || m_folders[m_lastFolder].constData() != folder.constData()) {
        const auto known = m_folderNumbers.constFind(folder);
        if (known != m_folderNumbers.cend()) {
            m_lastFolder = *known;
            m_folders[m_lastFolder] = folder; // the same text, shared with the rows that follow
        } else {
            m_lastFolder = static_cast<quint32>(m_folders.size());
            m_folderNumbers.insert(folder, m_lastFolder);
            m_folders.push_back(folder);
        }
    }

    FileRow row;
    row.nameOffset = m_names.size();
    row.folderIndex = m_lastFolder;
    row.baseLength = static_cast<quint16>(base.size());
    row.extLength = static_cast<quint16>(ext.size());
    m_names.insert(m_names.end(), base.begin(), base.end());
    m_names.insert(m_names.end(), ext.begin(), ext.end());
    m_rows.push_back(row);
}

int FileListModel::pendingRowCount() const
{
    return static_cast<int>(m_rows.size()) - m_publishedRows;
}

void FileListModel::publishPendingRows()
{
    const int total = static_cast<int>(m_rows.size());
    if (total == m_publishedRows)
        return;
    // The rows are already stored; rowCount() only reveals them between begin and end.
    beginInsertRows({}, m_publishedRows, total - 1);
    m_publishedRows = total;
    endInsertRows();
}

void FileListModel::checkAllRows()
{
    if (m_publishedRows == 0)
        return;
    for (int row = 0; row < m_publishedRows; ++row)
        m_rows[row].checked = true;
    Q_EMIT dataChanged(index(0, PreviewColumn), index(m_publishedRows - 1, PreviewColumn),
        { Qt::CheckStateRole, Qt::AccessibleTextRole });
}

void FileListModel::setChecked(int row, bool checked)
{
    if (m_rows[row].checked == checked)
        return;
    m_rows[row].checked = checked;
    const QModelIndex changed = index(row, PreviewColumn);
    Q_EMIT dataChanged(changed, changed, { Qt::CheckStateRole, Qt::AccessibleTextRole });
}

QByteArrayView FileListModel::base(int row) const
{
    const FileRow& r = m_rows[row];
    return QByteArrayView(m_names.data() + r.nameOffset, r.baseLength);
}

QByteArrayView FileListModel::ext(int row) const
{
    const FileRow& r = m_rows[row];
    return QByteArrayView(m_names.data() + r.nameOffset + r.baseLength, r.extLength);
}

QByteArray FileListModel::preview(int row) const
{
    const PreviewPass& pass = m_passes[m_rows[row].previewPass];
    if (m_rows[row].previewPass == 0)
        return pass.value;
    return pass.extensionMode ? joined(base(row), pass.value) : joined(pass.value, ext(row));
}

void FileListModel::previewInto(int row, QByteArray& out) const
{
    const PreviewPass& pass = m_passes[m_rows[row].previewPass];
    out.resize(0);
    if (m_rows[row].previewPass == 0)
        out.append(pass.value);
    else if (pass.extensionMode)
        out.append(base(row)).append(pass.value);
    else
        out.append(pass.value).append(ext(row));
}

QByteArray FileListModel::name(int row) const
{
    return joined(base(row), ext(row));
}

QByteArray FileListModel::fullPath(int row) const
{
    return folder(row) + name(row);
}

quint32 FileListModel::beginPreviewPass(const QByteArray& value, bool extensionMode)
{
    const PreviewPass& last = m_passes.back();
    if (m_passes.size() > 1 && last.extensionMode == extensionMode && last.value == value)
        return static_cast<quint32>(m_passes.size() - 1);
    m_passes.push_back(PreviewPass { value, extensionMode });
    return static_cast<quint32>(m_passes.size() - 1);
}

void FileListModel::notifyPreviewsChanged(int firstRow, int lastRow)
{
    if (firstRow <= lastRow)
        Q_EMIT dataChanged(index(firstRow, PreviewColumn), index(lastRow, PreviewColumn),
            { Qt::DisplayRole, Qt::DecorationRole, Qt::ForegroundRole, Qt::ToolTipRole,
                Qt::AccessibleDescriptionRole, Qt::AccessibleTextRole });
}

void FileListModel::setSameNameAs(int row, int firstRow)
{
    setMark(row, RowMark::SameNameAsRow);
    m_sameNameAs.emplace_back(row, firstRow);
}

void FileListModel::setPlacedElsewhere(int row, const QByteArray& path)
{
    setMark(row, RowMark::FailedMovedElsewhere);
    m_placedAt.emplace_back(row, path);
}

void FileListModel::forgetMarkDetails()
{
    std::vector<std::pair<int, int>>().swap(m_sameNameAs);
    std::vector<std::pair<int, QByteArray>>().swap(m_placedAt);
}

QString FileListModel::markText(int row) const
{
    switch (mark(row)) {
    case RowMark::SameNameAsRow: {
        const auto found = std::lower_bound(m_sameNameAs.begin(), m_sameNameAs.end(), std::pair(row, 0));
        const int first = found != m_sameNameAs.end() && found->first == row ? found->second : row;
        // Rows are numbered from 1, as the user counts them.
        return QStringLiteral("与第 %1 行同名").arg(first + 1);
    }
    case RowMark::FailedKeptBothNames:
        // The name to remove, so that the user can.
        return QStringLiteral("修改失败：旧名称无法删除，文件同时有了新名称 %1，可删除其一")
            .arg(QString::fromUtf8(preview(row)));
    case RowMark::FailedMovedElsewhere: {
        // Where the file is, so that the user can find it.
        const auto found = std::lower_bound(m_placedAt.begin(), m_placedAt.end(), row,
            [](const std::pair<int, QByteArray>& placed, int wanted) { return placed.first < wanted; });
        if (found == m_placedAt.end() || found->first != row)
            return reasonOf(mark(row));
        return QStringLiteral("修改失败：文件被文件系统放到了别处：%1").arg(decodeForDisplay(found->second));
    }
    default:
        return reasonOf(mark(row));
    }
}

int FileListModel::firstFailingRow() const
{
    for (int row = 0; row < m_publishedRows; ++row) {
        const MarkKind kind = kindOf(mark(row));
        if (kind == MarkKind::Foreseen || kind == MarkKind::Failed)
            return row;
    }
    return -1;
}

void FileListModel::clearMarks()
{
    int first = m_publishedRows;
    int last = -1;
    for (int row = 0; row < m_publishedRows; ++row) {
        if (m_rows[row].mark != 0) {
            m_rows[row].mark = 0;
            first = std::min(first, row);
            last = row;
        }
    }
    forgetMarkDetails();
    notifyPreviewsChanged(first, last);
}
