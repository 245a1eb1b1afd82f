#include "file_list/file_list_model.h"
#include "file_list/view/shown_file_list.h"
#include "rename/rename_session.h"
#include "runner/runner.h"
#include "test_support.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileList final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void columnsHaveTheirHeadersAndWidths();
    void searchChecksEveryRowWithUntouchedPreview();
    void searchFindingNothingLeavesListEmpty();
    void secondSearchDiscardsFirstRowsPreviewsAndTicks();
    void searchNotifiesViewsInBatches();
    void rowsShareTheirFolderText();
    void nonUtf8NameIsDecodedOnlyForDisplay();
    void checkBoxToggles();
    void modelStaysConsistentWhileRowsComeAndGo();

private:
    void search(const QByteArray& path, const QString& filter)
    {
        Runner runner;
        m_session->SearchFiles(path, filter, runner,
            [this](const FolderAllList::FolderFailure& failure) { m_folderFailures.append(failure.folder); });
    }

    RenameSession* m_session = nullptr;
    FileListModel* m_list = nullptr;
    QAbstractItemModelTester* m_tester = nullptr;
    QByteArrayList m_folderFailures;
};

void TestFileList::init()
{
    m_session = new RenameSession;
    m_list = &m_session->list();
    m_tester
        = new QAbstractItemModelTester(m_list, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    m_folderFailures.clear();
}

void TestFileList::cleanup()
{
    delete m_tester;
    delete m_session;
}

void TestFileList::columnsHaveTheirHeadersAndWidths()
{
    const QStringList headers = { u"预览"_s, u"路径"_s, u"源文件名"_s, u"原拓展名"_s };
    const QList<int> widths = { 1900, 550, 1900, 900 };
    QCOMPARE(m_list->columnCount(), 4);
    for (int column = 0; column < 4; ++column) {
        QCOMPARE(m_list->headerData(column, Qt::Horizontal).toString(), headers[column]);
        QCOMPARE(ShownFileList::columnWidthTwips(column), widths[column]);
    }
}

void TestFileList::searchChecksEveryRowWithUntouchedPreview()
{
    TestTree tree;
    tree.createDir("sub");
    tree.createFile("a.txt");
    tree.createFile("sub/b.TXT");
    tree.createFile("c.md");
    search(tree.root(), u".txt"_s);

    QCOMPARE(m_list->rowCount(), 2);
    QSet<QByteArray> found;
    for (int row = 0; row < 2; ++row) {
        QVERIFY(m_list->isChecked(row));
        QCOMPARE(m_list->preview(row), QByteArray(" "));
        QCOMPARE(
            m_list->index(row, FileListModel::PreviewColumn).data(Qt::CheckStateRole).value<Qt::CheckState>(),
            Qt::Checked);
        QVERIFY(m_list->folder(row).endsWith(Platform::Separator));
        found.insert(m_list->fullPath(row));
    }
    QCOMPARE(found, (QSet<QByteArray> { tree.path("a.txt"), tree.path("sub/b.TXT") }));
    QVERIFY(m_folderFailures.isEmpty());
}

void TestFileList::searchFindingNothingLeavesListEmpty()
{
    TestTree tree;
    tree.createFile("a.md");
    QSignalSpy changed(m_list, &QAbstractItemModel::dataChanged);
    search(tree.root(), u".txt"_s);
    QCOMPARE(m_list->rowCount(), 0);
    QCOMPARE(changed.count(), 0);
}

void TestFileList::secondSearchDiscardsFirstRowsPreviewsAndTicks()
{
    TestTree tree;
    tree.createFile("one.txt");
    tree.createFile("two.txt");
    tree.createFile("three.md");
    search(tree.root(), u".txt"_s);
    QCOMPARE(m_list->rowCount(), 2);
    m_list->setChecked(0, false);
    m_list->setPreviewPass(1, m_list->beginPreviewPass("new", false));

    search(tree.root(), u"t"_s);
    QCOMPARE(m_list->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        QVERIFY(m_list->isChecked(row));
        QCOMPARE(m_list->preview(row), QByteArray(" "));
    }
}

void TestFileList::searchNotifiesViewsInBatches()
{
    TestTree tree;
    for (int i = 0; i < 600; ++i)
        tree.createFile("f" + QByteArray::number(i) + ".txt");
    QSignalSpy inserted(m_list, &QAbstractItemModel::rowsInserted);
    search(tree.root(), u".txt"_s);
    QCOMPARE(m_list->rowCount(), 600);
    // The scan yields a dozen times here; a view must hear of the rows far less often than that.
    QVERIFY2(inserted.count() >= 1 && inserted.count() <= 3, QByteArray::number(inserted.count()));
    QCOMPARE(inserted.last().at(2).toInt(), 599);
}

void TestFileList::rowsShareTheirFolderText()
{
    const QByteArray folder("/some/folder/");
    m_list->appendRow(folder, "a", ".txt");
    m_list->appendRow(folder, "b", ".txt");
    // Rows of one folder may come in several runs, each with its own copy of the text; a folder is
    // told by its number.
    m_list->appendRow("/some/other/", "c", ".txt");
    m_list->appendRow(QByteArray("/some/folder/"), "d", ".txt");
    m_list->publishPendingRows();
    QCOMPARE(m_list->folder(0).constData(), folder.constData());
    QCOMPARE(m_list->folder(1).constData(), folder.constData());
    QCOMPARE(m_list->folderId(3), m_list->folderId(0));
    QCOMPARE(m_list->folder(3), folder);
    QVERIFY(m_list->folderId(2) != m_list->folderId(0));
}

void TestFileList::nonUtf8NameIsDecodedOnlyForDisplay()
{
    m_list->appendRow("/f/", "caf\xe9", ".txt");
    m_list->publishPendingRows();
    QCOMPARE(m_list->base(0).toByteArray(), QByteArray("caf\xe9"));
    const QString shown = m_list->index(0, FileListModel::BaseColumn).data().toString();
    QCOMPARE(shown, u"caf\uFFFD"_s);
    QCOMPARE(m_list->index(0, FileListModel::ExtColumn).data().toString(), u".txt"_s);
    QCOMPARE(m_list->index(0, FileListModel::FolderColumn).data().toString(), u"/f/"_s);
    QCOMPARE(m_list->index(0, FileListModel::PreviewColumn).data().toString(), u" "_s);
}

void TestFileList::checkBoxToggles()
{
    m_list->appendRow("/f/", "a", "");
    m_list->publishPendingRows();
    const QModelIndex box = m_list->index(0, FileListModel::PreviewColumn);
    QVERIFY(m_list->flags(box).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!m_list->flags(m_list->index(0, FileListModel::BaseColumn)).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!m_list->isChecked(0));
    QVERIFY(m_list->setData(box, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(m_list->isChecked(0));
    QVERIFY(m_list->setData(box, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!m_list->isChecked(0));
    QVERIFY(!m_list->setData(m_list->index(0, FileListModel::BaseColumn), Qt::Checked, Qt::CheckStateRole));
}

void TestFileList::modelStaysConsistentWhileRowsComeAndGo()
{
    TestTree tree;
    tree.createDir("d");
    for (int i = 0; i < 130; ++i)
        tree.createFile("d/f" + QByteArray::number(i));
    search(tree.root(), QString());
    QCOMPARE(m_list->rowCount(), 130);
    m_list->appendRow("/x/", "extra", "");
    QCOMPARE(m_list->rowCount(), 130);
    QCOMPARE(m_list->pendingRowCount(), 1);
    m_list->publishPendingRows();
    QCOMPARE(m_list->rowCount(), 131);
    m_list->clear();
    QCOMPARE(m_list->rowCount(), 0);
    search(tree.root(), u"f1"_s);
    QCOMPARE(m_list->rowCount(), 41); // f1, f10..f19, f100..f129
}

QTEST_GUILESS_MAIN(TestFileList)
#include "test_file_list.moc"
