#pragma once

#include <QIdentityProxyModel>

class FileListModel;

// The file list as the window shows it: each preview cell's mark as a colour and an icon, and the
// cell as a screen reader reads it, its check state in words before the preview. The rows and
// their order are the list's own.
class ShownFileList final : public QIdentityProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShownFileList)

public:
    explicit ShownFileList(FileListModel& list, QObject* parent = nullptr);

    // The width each column starts with.
    static int columnWidthTwips(int column);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QString spokenPreview(const QModelIndex& index) const;

    const FileListModel& m_list;
};
