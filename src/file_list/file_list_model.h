#pragma once

#include "platform/platform.h"
#include "row_mark.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <vector>

// One found file. Rows are compact so that a million of them stay small: the names live in one
// shared byte store, each folder text is held once for all of its rows, and the preview is kept as
// a reference to the pass that wrote it rather than as a text of its own.
struct FileRow
{
    quint64 nameOffset = 0; // base followed by extension in the name store
    quint32 folderIndex = 0;
    quint32 previewPass = 0; // 0: the untouched preview " "
    quint16 baseLength = 0;
    quint16 extLength = 0;
    bool checked = false;
    quint8 mark = 0; // a RowMark, in what would otherwise be padding
};
static_assert(sizeof(FileRow) == 24, "a row's mark takes no room of its own");

// The file list: one row per found file, in the order found, never sorted. Rows appended during a
// search stay invisible to views until publishPendingRows(), so that a view is told about a large
// batch at once instead of once per row.
class FileListModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListModel)

public:
    enum Column { PreviewColumn, FolderColumn, BaseColumn, ExtColumn, ColumnCount };

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Empties the list for a search of `folder` (ending with the separator), below which every row's
    // folder lies.
    void clear(const QByteArray& folder = {});
    const QByteArray& searchedFolder() const { return m_searchedFolder; }
    // Which folder the search listed under that path; none until a search has listed one.
    void setSearchedIdentity(const Platform::FolderIdentity& identity) { m_searchedIdentity = identity; }
    const Platform::FolderIdentity& searchedIdentity() const { return m_searchedIdentity; }
    // Throws std::length_error when a row cannot be held.
    void appendRow(const QByteArray& folder, QByteArrayView base, QByteArrayView ext);
    int pendingRowCount() const;
    void publishPendingRows();
    void checkAllRows();

    // Row access by 0-based index over the published rows; texts are raw file-system bytes.
    bool isChecked(int row) const { return m_rows[row].checked; }
    void setChecked(int row, bool checked);
    QByteArray folder(int row) const { return m_folders[m_rows[row].folderIndex]; }
    // Rows of one folder share this number.
    quint32 folderId(int row) const { return m_rows[row].folderIndex; }
    QByteArrayView base(int row) const;
    QByteArrayView ext(int row) const;
    QByteArray name(int row) const; // base & ext
    QByteArray preview(int row) const;
    // Whether a pass has given the row a preview; before, it shows the untouched preview " ".
    bool isPreviewed(int row) const { return m_rows[row].previewPass != 0; }
    // The same into `out`, reusing its room.
    void previewInto(int row, QByteArray& out) const;
    QByteArray fullPath(int row) const;

    // Starts a pass that gives each row it touches the preview value & ext (name mode) or
    // base & value (extension mode); returns the pass to hand to setPreviewPass().
    quint32 beginPreviewPass(const QByteArray& value, bool extensionMode);
    void setPreviewPass(int row, quint32 pass) { m_rows[row].previewPass = pass; }
    void notifyPreviewsChanged(int firstRow, int lastRow);

    RowMark mark(int row) const { return static_cast<RowMark>(m_rows[row].mark); }
    // Views learn of new marks through notifyPreviewsChanged().
    void setMark(int row, RowMark mark) { m_rows[row].mark = static_cast<quint8>(mark); }
    // Marks `row` as getting the same name as the earlier row `firstRow`; rows are marked in order.
    void setSameNameAs(int row, int firstRow);
    // Marks `row` as put by the file system at the full path `path`, outside its folder; rows are
    // marked in order.
    void setPlacedElsewhere(int row, const QByteArray& path);
    // Forgets which rows got the same name as which, and where files were put, before a pass marks
    // them anew.
    void forgetMarkDetails();
    // The reason behind a row's mark, as its tooltip and a screen reader give it; empty for none.
    QString markText(int row) const;
    // The first row whose rename is foreseen to fail or has failed; -1 for none.
    int firstFailingRow() const;
    // Clears every mark, once the files no longer are where the marks say.
    void clearMarks();

private:
    struct PreviewPass
    {
        QByteArray value;
        bool extensionMode = false;
    };

    QString displayText(int row, int column) const;

    std::vector<FileRow> m_rows;
    std::vector<char> m_names;
    std::vector<QByteArray> m_folders;
    QHash<QByteArray, quint32> m_folderNumbers; // each folder's index in m_folders, by its text
    quint32 m_lastFolder = 0; // the folder of the row appended last
    std::vector<PreviewPass> m_passes;
    std::vector<std::pair<int, int>> m_sameNameAs; // (row, earlier row of that name), by row
    std::vector<std::pair<int, QByteArray>> m_placedAt; // (row, where its file was put), by row
    QByteArray m_searchedFolder;
    Platform::FolderIdentity m_searchedIdentity;
    int m_publishedRows = 0;
};
