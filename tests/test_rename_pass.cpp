#include "platform/file_mover.h"
#include "rename/new_name_rule.h"
#include "rename_fixture.h"
#include "system_stand_in.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#ifndef _WIN32
#include "sshfs_share.h"

#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#endif

class TestRenamePass final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void previews_data();
    void previews();
    void noCheckedRows();
    void uncheckedRowsKeepOldPreviews();
    void previewNotifiesViewsOnce();
    void threeFilesToOneName();
    void executeTwiceWithoutNewSearch();
    void readOnlyFolder();
    void fileDeletedBeforeExecute();
    void existingTargetIsNeverOverwritten_data() { addVolumeRows(); }
    void existingTargetIsNeverOverwritten();
    void changesLetterCaseOnEveryVolume_data() { addVolumeRows(); }
    void changesLetterCaseOnEveryVolume();
    void sameNameCountsAsRenamed();
    void unsafeTargetsAreRefused_data();
    void unsafeTargetsAreRefused();
    void awkwardNamesAreRenamed_data();
    void awkwardNamesAreRenamed();
    void targetTooLongFails();
    void filesStayInTheirOwnFolder_data();
    void filesStayInTheirOwnFolder();
    void neverLeavesTheSearchedTree_data();
    void neverLeavesTheSearchedTree();
    void nothingIsEverLost_data();
    void nothingIsEverLost();
    void conflictsAreMarked_data();
    void conflictsAreMarked();
#ifdef _WIN32
    void mappedFileKeepsBothNames();
    void fileLeftElsewhereIsTold_data();
    void fileLeftElsewhereIsTold();
    void cloudRefusalsAreMarked_data();
    void cloudRefusalsAreMarked();
#else
    void refusingFoldersAreMarked_data();
    void refusingFoldersAreMarked();
#endif
};

void TestRenamePass::previews_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("extensionMode");
    QTest::addColumn<QByteArray>("preview");
    QTest::newRow("extension mode") << QByteArray("notes.txt") << QByteArray(".md") << true
                                    << QByteArray("notes.md");
    QTest::newRow("extension mode, no extension")
        << QByteArray("README") << QByteArray(".md") << true << QByteArray("README.md");
    QTest::newRow("extension mode, no dot")
        << QByteArray("a.txt") << QByteArray("md") << true << QByteArray("amd");
    QTest::newRow("name mode") << QByteArray("photo.jpg") << QByteArray("007") << false
                               << QByteArray("007.jpg");
    QTest::newRow("name mode, no extension")
        << QByteArray("README") << QByteArray("007") << false << QByteArray("007");
    QTest::newRow("name mode, empty value") << QByteArray("README") << QByteArray() << false << QByteArray();
    QTest::newRow("name mode keeps bytes") << "x." + TestSystem::notText << QByteArray("\xe7\x85\xa7")
                                           << false << "\xe7\x85\xa7." + TestSystem::notText;
}

void TestRenamePass::previews()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, value);
    QFETCH(bool, extensionMode);
    QFETCH(QByteArray, preview);
    SKIP_UNLESS_NAME_HELD(file);
    Session session;
    session.tree.createFile(file, "content");
    session.search(QString());
    session.apply(value, PassKind::Preview, extensionMode ? NameMode::NewExtension : NameMode::NewBase);
    QCOMPARE(session.list.preview(0), preview);
    QCOMPARE(session.tree.snapshot(), (Tree { { file, "content" } }));
    QVERIFY(session.renamed.isEmpty());
    QVERIFY(session.nothingFailed());
}

void TestRenamePass::noCheckedRows()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.search();
    session.list.setChecked(0, false);
    QSignalSpy changed(&session.list, &QAbstractItemModel::dataChanged);
    session.apply("new", PassKind::Preview, NameMode::NewBase);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(session.list.preview(0), QByteArray(" "));
    session.apply("new", PassKind::Execute, NameMode::NewBase);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" } }));
}

void TestRenamePass::uncheckedRowsKeepOldPreviews()
{
    Session session;
    session.tree.createFile("a.txt");
    session.tree.createFile("b.txt");
    session.search();
    session.apply(".md", PassKind::Preview, NameMode::NewExtension);
    const int a = session.rowOf("a.txt");
    const int b = session.rowOf("b.txt");
    session.list.setChecked(a, false);
    session.apply(".csv", PassKind::Preview, NameMode::NewExtension);
    QCOMPARE(session.list.preview(a), QByteArray("a.md"));
    QCOMPARE(session.list.preview(b), QByteArray("b.csv"));
}

void TestRenamePass::previewNotifiesViewsOnce()
{
    Session session;
    for (int i = 0; i < 300; ++i)
        session.tree.createFile("f" + QByteArray::number(i) + ".txt");
    session.search();
    session.list.setChecked(0, false);
    session.list.setChecked(299, false);
    QSignalSpy changed(&session.list, &QAbstractItemModel::dataChanged);
    session.apply("x", PassKind::Preview, NameMode::NewBase);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].value<QModelIndex>().row(), 1);
    QCOMPARE(changed[0][1].value<QModelIndex>().row(), 298);
}

void TestRenamePass::threeFilesToOneName()
{
    Session session;
    for (const QByteArray name : { "a.txt", "b.txt", "c.txt" })
        session.tree.createFile(name, name);
    session.search();
    const QByteArray first = session.list.name(0);
    session.apply("1", PassKind::Execute, NameMode::NewBase);

    QCOMPARE(session.renamed, QList<int> { 1 });
    QCOMPARE(session.failedPaths().size(), 2);
    QCOMPARE(session.failedPaths()[0], QString::fromUtf8(session.list.fullPath(1)));
    QCOMPARE(session.failedPaths()[1], QString::fromUtf8(session.list.fullPath(2)));
    Tree expected { { "1.txt", first } };
    for (int row = 1; row < 3; ++row)
        expected.insert(session.list.name(row), session.list.name(row));
    QCOMPARE(session.tree.snapshot(), expected);
    // The failed rows keep their check and their new preview; rows still describe the old names.
    QVERIFY(session.list.isChecked(1));
    QCOMPARE(session.list.preview(2), QByteArray("1.txt"));
    QCOMPARE(session.list.name(0), first);
    // Each row tells what became of it.
    QCOMPARE(session.markOf(0), u"已修改"_s);
    QCOMPARE(session.markOf(1), u"修改失败：目标已存在"_s);
    QCOMPARE(session.markOf(2), u"修改失败：目标已存在"_s);
}

void TestRenamePass::executeTwiceWithoutNewSearch()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.tree.createFile("b.txt", "b");
    session.search();
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed.last(), 2);
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed.last(), 0);
    QCOMPARE(session.failedPaths(),
        (QStringList {
            QString::fromUtf8(session.list.fullPath(0)), QString::fromUtf8(session.list.fullPath(1)) }));
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.md", "a" }, { "b.md", "b" } }));
}

void TestRenamePass::readOnlyFolder()
{
    Session session;
    session.tree.createDir("locked");
    session.tree.createFile("locked/a.txt", "a");
    session.tree.createFile("free.txt", "f");
    if (const QString whyNot = session.tree.makeReadOnly("locked"); !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    session.search();
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, QList<int> { 1 });
    QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path("locked/a.txt")) });
    QCOMPARE(session.tree.snapshot(), (Tree { { "locked/a.txt", "a" }, { "free.md", "f" } }));
}

void TestRenamePass::fileDeletedBeforeExecute()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.tree.createFile("b.txt", "b");
    session.search();
    QVERIFY(QFile::remove(QString::fromUtf8(session.tree.path("a.txt"))));
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path("a.txt")) });
    QCOMPARE(session.renamed, QList<int> { 1 });
    QCOMPARE(session.tree.snapshot(), (Tree { { "b.md", "b" } }));
    QCOMPARE(session.markOf(session.rowOf("a.txt")), u"修改失败：源文件不存在"_s);
}

#ifdef _WIN32
// A program has the file mapped, and NTFS refuses to delete any of its names (see MappedFile): after
// the hard link the old name stays, and so does the new one. The row names the new one.
void TestRenamePass::mappedFileKeepsBothNames()
{
    Session session;
    session.tree.createFile("photo.txt", "p");
    session.search();
    const SystemStandIn::Restored restored;
    // On a volume that refuses the rename by handle, so that the file is linked.
    Platform::Native::calls.setInformationFile = SystemStandIn::refusesRename<MappedFile::setInformationFile>;
    session.apply(".jpg", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path("photo.txt")) });
    QCOMPARE(session.tree.snapshot(), (Tree { { "photo.jpg", "p" }, { "photo.txt", "p" } }));
    QCOMPARE(session.markOf(0), u"修改失败：旧名称无法删除，文件同时有了新名称 photo.jpg，可删除其一"_s);
}

void TestRenamePass::fileLeftElsewhereIsTold_data()
{
    QTest::addColumn<bool>("reopened");
    QTest::newRow("taken back") << false;
    QTest::newRow("taken back by a later session") << true;
}

// A driver that puts the renamed file into another folder and refuses to move it back (see
// ElsewhereDriver): the row says so, and the failure names the file where it is. Once the driver
// answers as documented again, the undo, of this session or a later one, brings it back from there.
void TestRenamePass::fileLeftElsewhereIsTold()
{
    QFETCH(bool, reopened);
    Session session;
    session.tree.createDir("photos");
    session.tree.createDir("elsewhere");
    session.tree.createFile("photos/photo.txt", "p");
    session.search();
    const SystemStandIn::Restored restored;
    const Platform::FolderHandle elsewhere = Platform::openFolder(session.tree.path("elsewhere"));
    ElsewhereDriver::folder = reinterpret_cast<HANDLE>(elsewhere.native());
    Platform::Native::calls.setInformationFile = ElsewhereDriver::setInformationFile;
    session.apply(".jpg", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.tree.snapshot(), (Tree { { "elsewhere/photo.jpg", "p" } }));
    QCOMPARE(session.failures.size(), 1);
    QVERIFY2(session.failures.first().path.endsWith("\\elsewhere\\photo.jpg"), session.failures.first().path);
    QCOMPARE(session.markOf(0),
        u"修改失败：文件被文件系统放到了别处："_s + QString::fromUtf8(session.failures.first().path));

    Platform::Native::calls = Platform::Native::systemCalls();
    if (reopened)
        QCOMPARE(session.reopen().unreadable, 0);
    session.undo();
    QCOMPARE(session.renamed.last(), 1);
    QCOMPARE(session.failures.size(), 1);
    QCOMPARE(session.tree.snapshot(), (Tree { { "photos/photo.txt", "p" } }));
    QVERIFY(session.records().isEmpty());
}

void TestRenamePass::cloudRefusalsAreMarked_data()
{
    QTest::addColumn<NTSTATUS>("status");
    QTest::addColumn<QString>("mark");
    // [MS-ERREF] 2.3.1: the cloud filter's answers for a placeholder whose sync program is not
    // running, or has exited unexpectedly; one that is working on the file; access to the cloud file
    // denied; a cloud operation on a read-only volume.
    QTest::newRow("provider not running")
        << Platform::Native::statusCloudFileProviderNotRunning << u"修改失败：云存储程序未运行"_s;
    QTest::newRow("provider ended") << Platform::Native::statusCloudFileProviderTerminated
                                    << u"修改失败：云存储程序未运行"_s;
    QTest::newRow("in use") << Platform::Native::statusCloudFileInUse << u"修改失败：文件正在使用"_s;
    QTest::newRow("access denied") << Platform::Native::statusCloudFileAccessDenied
                                   << u"修改失败：没有权限"_s;
    QTest::newRow("read-only volume")
        << Platform::Native::statusCloudFileReadOnlyVolume << u"修改失败：卷为只读"_s;
    // FILE_DISPOSITION_INFORMATION: another program has deleted the file while holding it open, and
    // may still cancel that; every other call on it is answered STATUS_DELETE_PENDING.
    QTest::newRow("being deleted by another program")
        << Platform::Native::statusDeletePending << u"修改失败：文件正被另一程序删除"_s;
}

// A cloud drive's placeholders, which its cloud filter refuses to rename (see CloudFilter): each row
// says why, and the pass goes on to the next file, which gets its own box.
void TestRenamePass::cloudRefusalsAreMarked()
{
    QFETCH(NTSTATUS, status);
    QFETCH(QString, mark);
    Session session;
    session.tree.createFile("a.txt", "a");
    session.tree.createFile("b.txt", "b");
    session.search();
    const struct Restored
    {
        ~Restored() { Platform::Native::calls = Platform::Native::systemCalls(); }
    } restored;
    CloudFilter::status = status;
    Platform::Native::calls.setInformationFile = CloudFilter::setInformationFile;
    session.apply(".jpg", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.failedPaths(),
        (QStringList {
            QString::fromUtf8(session.list.fullPath(0)), QString::fromUtf8(session.list.fullPath(1)) }));
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" }, { "b.txt", "b" } }));
    QCOMPARE(session.markOf(0), mark);
    QCOMPARE(session.markOf(1), mark);
}
#endif

void TestRenamePass::existingTargetIsNeverOverwritten()
{
    VOLUME_BASE(base);
    Session session(base);
    session.tree.createFile("a.txt", "mine");
    session.tree.createFile("a.md", "theirs");
    session.tree.createFile("b.txt", "free");
    session.tree.createFile("c.txt", "other");
    session.tree.createDir("c.md");
    session.tree.createFile("d.txt", "dangling");
    // FAT and exFAT hold no symbolic links, nor does Wine make any.
    const bool links = session.tree.createLink("d.md", "nowhere");
    session.search();
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.failedPaths().size(), links ? 3 : 2);
    QCOMPARE(session.renamed, QList<int> { links ? 1 : 2 });
    Tree expected { { "a.txt", "mine" }, { "a.md", "theirs" }, { "b.md", "free" }, { "c.txt", "other" } };
    if (links)
        expected.insert({ { "d.md", "->nowhere" }, { "d.txt", "dangling" } });
    else
        expected.insert("d.md", "dangling");
    QCOMPARE(session.tree.snapshot(), expected);
}

// A camera card's names in upper case, made lower case, also in its folders two levels down
// (DCIM/100CANON): a case-insensitive volume sees the target as the file itself. Where the volume tells the
// cases apart, a second file that already has the lower-case name is never replaced.
void TestRenamePass::changesLetterCaseOnEveryVolume()
{
    VOLUME_BASE(base);
    Session session(base);
    session.tree.createFile("IMG_0001.JPG", "1");
    session.tree.createFile("IMG_0002.JPG", "2");
    session.tree.createDir("100");
    session.tree.createFile("100/IMG_0003.JPG", "3");
    session.tree.createDir("DCIM");
    session.tree.createDir("DCIM/100CANON");
    session.tree.createFile("DCIM/100CANON/IMG_0004.JPG", "4");
    session.tree.createFile("X.JPG", "upper");
    const bool foldsCase = !session.tree.tryCreateFile("X.jpg", "lower");
    session.search(u".JPG"_s);
    session.apply(".jpg", PassKind::Execute, NameMode::NewExtension);

    Tree expected { { "IMG_0001.jpg", "1" }, { "IMG_0002.jpg", "2" }, { "100/IMG_0003.jpg", "3" },
        { "DCIM/100CANON/IMG_0004.jpg", "4" } };
    if (foldsCase) {
        expected.insert("X.jpg", "upper");
        QVERIFY(session.nothingFailed());
        QCOMPARE(session.renamed, QList<int> { 5 });
    } else {
        expected.insert({ { "X.JPG", "upper" }, { "X.jpg", "lower" } });
        QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path("X.JPG")) });
        // X.jpg already carries its new name.
        QCOMPARE(session.renamed, QList<int> { 5 });
    }
    QCOMPARE(session.tree.snapshot(), expected);

    // A camera card must come out while the window still lists its files: nothing stays open.
    if (!base.isEmpty()) {
        QFETCH(QString, volume);
        QVERIFY(Volumes::unmount(volume));
        QCOMPARE(session.list.rowCount(), foldsCase ? 5 : 6);
    }
}

void TestRenamePass::sameNameCountsAsRenamed()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.search();
    session.apply(".txt", PassKind::Execute, NameMode::NewExtension);
    QVERIFY(session.nothingFailed());
    QCOMPARE(session.renamed, QList<int> { 1 });
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" } }));
}

void TestRenamePass::unsafeTargetsAreRefused_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("extensionMode");
    QTest::newRow("parent folder") << QByteArray("../x") << false;
    QTest::newRow("absolute") << QByteArray("/tmp/x") << false;
    QTest::newRow("subfolder") << QByteArray("sub/x") << false;
    QTest::newRow("slash in suffix") << QByteArray("/../y") << true;
    QTest::newRow("empty name, no extension") << QByteArray() << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dot dot") << QByteArray("..") << false;
    QTest::newRow("nul") << QByteArray("a\0b", 3) << false;
#ifdef _WIN32
    QTest::newRow("backslash") << QByteArray("sub\\x") << false;
    QTest::newRow("drive path") << QByteArray("C:\\x") << false;
    QTest::newRow("drive-relative path") << QByteArray("C:x") << false;
    QTest::newRow("UNC path") << QByteArray("\\\\localhost\\C$\\x") << false;
    QTest::newRow("long-form path") << QByteArray("\\\\?\\C:\\x") << false;
    QTest::newRow("backslash in suffix") << QByteArray("\\..\\y") << true;
#endif
}

void TestRenamePass::unsafeTargetsAreRefused()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, extensionMode);
    Session session;
    session.tree.createDir("sub");
    session.tree.createDir("inner");
    session.tree.createFile("inner/README", "r");
    session.search(u"README"_s);
    const Tree before = session.tree.snapshot();
    session.apply(value, PassKind::Execute, extensionMode ? NameMode::NewExtension : NameMode::NewBase);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path("inner/README")) });
    QCOMPARE(session.tree.snapshot(), before);
}

void TestRenamePass::awkwardNamesAreRenamed_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<QByteArray>("renamed"); // empty where the volume cannot hold the new name
    const QString local = u"local"_s;
    QTest::newRow("spaces") << local << QByteArray(" my notes .txt") << QByteArray(".md")
                            << QByteArray(" my notes .md");
    QTest::newRow("chinese") << local << QByteArray("假期照片.txt") << QByteArray(".md")
                             << QByteArray("假期照片.md");
#ifndef _WIN32
    QTest::newRow("newline") << local << QByteArray("two\nlines.txt") << QByteArray(".md")
                             << QByteArray("two\nlines.md");
#endif
    QTest::newRow("not text") << local << TestSystem::notText + " caf.txt" << QByteArray(".md")
                              << TestSystem::notText + " caf.md";
    QTest::newRow("link") << local << QByteArray("link.txt") << QByteArray(".md") << QByteArray("link.md");

#ifdef _WIN32
    // What Windows refuses in a name on every volume is reported, never lost. A rename by handle or
    // through the `\\?\` form makes some of these names all the same (a trailing dot or space, a
    // device name), and so does Wine, so the program must refuse them itself.
    const QList<std::pair<const char*, QByteArray>> refused = { { "backslash", "\\.md" }, { "slash", "/.md" },
        { "colon", ":.md" }, { "star", "*.md" }, { "question mark", "?.md" }, { "quote", "\".md" },
        { "less than", "<.md" }, { "greater than", ">.md" }, { "pipe", "|.md" }, { "trailing dot", ".md." },
        { "trailing space", ".md " }, { "too long", QByteArray(255, 'k') } };
    for (const auto& [label, suffix] : refused)
        QTest::addRow("windows: %s", label) << local << QByteArray("a.txt") << suffix << QByteArray();
    // A file with no base name takes the suffix as its whole new name.
    for (const QByteArray device : { "CON.txt", "NUL", "COM1", "aux.md" })
        QTest::addRow("windows: device %s", device.constData())
            << local << QByteArray(".txt") << device << QByteArray();
#else
    // What FAT and exFAT refuse, and what none of the three can store, is reported, never lost.
    struct Target
    {
        const char* label;
        QByteArray suffix;
        QByteArray renamed;
        QList<QString> heldBy;
    };
    const QList<Target> targets = {
        { "chinese", "照片.md", "a照片.md", { u"exfat"_s, u"ntfs"_s } },
        { "question mark", "?.md", "a?.md", { u"ntfs"_s } },
        { "colon", ":.md", "a:.md", { u"ntfs"_s } },
        { "pipe", "|.md", "a|.md", { u"ntfs"_s } },
        { "not utf-8", "\xff.md", "a\xff.md", {} },
        { "too long", QByteArray(255, 'k'), "a" + QByteArray(255, 'k'), {} },
    };
    for (const QString& volume : { u"exfat"_s, u"fat"_s, u"ntfs"_s }) {
        for (const Target& target : targets) {
            QTest::addRow("%s: %s", qPrintable(volume), target.label)
                << volume << QByteArray("a.txt") << target.suffix
                << (target.heldBy.contains(volume) ? target.renamed : QByteArray());
        }
    }
#endif
}

void TestRenamePass::awkwardNamesAreRenamed()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, suffix);
    QFETCH(QByteArray, renamed);
    VOLUME_BASE(base);
    Session session(base);
    SKIP_UNLESS_NAME_HELD(name);
    if (name == "link.txt") {
        if (const QString whyNot = TestTree::whyNoLinks(); !whyNot.isEmpty())
            QSKIP(qPrintable(whyNot));
        QVERIFY(session.tree.createLink(name, "target"));
    } else {
        session.tree.createFile(name, "content");
    }
    session.search();
    QCOMPARE(session.list.name(0), name);
    session.apply(suffix, PassKind::Execute, NameMode::NewExtension);
    if (renamed.isEmpty()) {
        QCOMPARE(session.failedPaths(), QStringList { QString::fromUtf8(session.tree.path(name)) });
        QCOMPARE(session.renamed, QList<int> { 0 });
        QCOMPARE(session.tree.snapshot().keys(), QList<QByteArray> { name });
    } else {
        QVERIFY(session.nothingFailed());
        QCOMPARE(session.renamed, QList<int> { 1 });
        QCOMPARE(session.tree.snapshot().keys(), QList<QByteArray> { renamed });
    }
}

void TestRenamePass::targetTooLongFails()
{
    Session session;
    session.tree.createFile("a.txt", "a");
    session.search();
    session.apply(QByteArray(300, 'k'), PassKind::Execute, NameMode::NewBase);
    QCOMPARE(session.failedPaths().size(), 1);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.tree.snapshot(), (Tree { { "a.txt", "a" } }));
}

void TestRenamePass::filesStayInTheirOwnFolder_data()
{
    QTest::addColumn<QByteArray>("above"); // the folders the searched files lie in
    QTest::newRow("short path") << QByteArray("x");
    // Longer than the 260 characters Windows once allowed in a path.
    const QByteArray longName(100, 'l');
    QTest::newRow("path over 260 characters") << longName + '/' + longName + '/' + longName + "/x";
}

void TestRenamePass::filesStayInTheirOwnFolder()
{
    QFETCH(QByteArray, above);
    Session session;
    QByteArray folder;
    for (const QByteArray& name : above.split('/')) {
        folder += (folder.isEmpty() ? "" : "/") + name;
        session.tree.createDir(folder);
    }
    session.tree.createDir(above + "/y");
    session.tree.createFile(above + "/a.txt", "1");
    session.tree.createFile(above + "/y/b.txt", "2");
    TestTree elsewhere;
    const QString startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromUtf8(elsewhere.root())));
    session.search();
    session.apply("same", PassKind::Execute, NameMode::NewBase);
    QVERIFY(QDir::setCurrent(startFolder));
    QCOMPARE(session.renamed, QList<int> { 2 });
    QCOMPARE(
        session.tree.snapshot(), (Tree { { above + "/same.txt", "1" }, { above + "/y/same.txt", "2" } }));
    QVERIFY(elsewhere.snapshot().isEmpty());
}

void TestRenamePass::neverLeavesTheSearchedTree_data()
{
    // The folder another program replaces ("" the searched folder itself), and the outside folder
    // it is replaced by: a link to it, or the folder itself moved into place.
    QTest::addColumn<QByteArray>("swappedFolder");
    QTest::addColumn<QByteArray>("outsideTwin");
    QTest::addColumn<bool>("byLink");
    QTest::addColumn<QByteArrayList>("failed");
    const QByteArrayList both { "top.txt", "sub/deeper/a.txt" };
    QTest::newRow("searched folder") << QByteArray() << QByteArray("twin") << true << both;
    QTest::newRow("searched folder, by a folder moved in")
        << QByteArray() << QByteArray("twin") << false << both;
    QTest::newRow("subfolder") << QByteArray("sub") << QByteArray("twin/sub") << true
                               << QByteArrayList { "sub/deeper/a.txt" };
    QTest::newRow("two levels down") << QByteArray("sub/deeper") << QByteArray("twin/sub/deeper") << true
                                     << QByteArrayList { "sub/deeper/a.txt" };
}

// Another program swaps a folder of the searched tree for a folder outside it that holds files of
// the same names, after the search and before the execute.
void TestRenamePass::neverLeavesTheSearchedTree()
{
    QFETCH(QByteArray, swappedFolder);
    QFETCH(QByteArray, outsideTwin);
    QFETCH(bool, byLink);
    QFETCH(QByteArrayList, failed);
    if (const QString whyNot = TestTree::whyNoLinks(); byLink && !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    Session session;
    session.tree.createDir("searched");
    session.tree.createDir("searched/sub");
    session.tree.createDir("searched/sub/deeper");
    session.tree.createFile("searched/sub/deeper/a.txt", "inside");
    session.tree.createFile("searched/top.txt", "inside");
    TestTree outside;
    outside.createDir("twin");
    outside.createDir("twin/sub");
    outside.createDir("twin/sub/deeper");
    outside.createFile("twin/sub/deeper/a.txt", "outside");
    outside.createFile("twin/top.txt", "outside");
    session.searchIn(session.tree.path("searched"), u".txt"_s);

    const QByteArray swapped = swappedFolder.isEmpty() ? "searched" : "searched/" + swappedFolder;
    QVERIFY(QDir().rename(
        QString::fromUtf8(session.tree.path(swapped)), QString::fromUtf8(session.tree.path("moved-away"))));
    if (byLink) {
        // On Windows a junction, which any user who can write the folder above can make.
        QVERIFY(session.tree.createLink(swapped, outside.path(outsideTwin)));
    } else {
        QVERIFY(QDir().rename(
            QString::fromUtf8(outside.path(outsideTwin)), QString::fromUtf8(session.tree.path(swapped))));
    }
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);

    if (byLink) {
        QCOMPARE(outside.snapshot(),
            (Tree { { "twin/top.txt", "outside" }, { "twin/sub/deeper/a.txt", "outside" } }));
    } else {
        QCOMPARE(session.tree.snapshot(),
            (Tree { { "searched/top.txt", "outside" }, { "searched/sub/deeper/a.txt", "outside" },
                { "moved-away/top.txt", "inside" }, { "moved-away/sub/deeper/a.txt", "inside" } }));
    }
    // Rows in the order the search found them. With the searched folder itself replaced, every move
    // would fail: the first says so with its box and the pass ends there, the others not tried.
    QList<int> failedRows;
    for (const QByteArray& relative : failed)
        failedRows.append(session.rowOf("searched/" + relative));
    std::sort(failedRows.begin(), failedRows.end());
    const bool endsPass = swappedFolder.isEmpty();
    QStringList failedPaths;
    for (const int row : failedRows.first(endsPass ? 1 : failedRows.size()))
        failedPaths.append(QString::fromUtf8(session.list.fullPath(row)));
    QCOMPARE(session.failedPaths(), failedPaths);
    QCOMPARE(session.renamed, QList<int> { 2 - int(failed.size()) });
    for (const int row : failedRows)
        QCOMPARE(session.markOf(row),
            row == failedRows[0] || !endsPass ? u"修改失败：文件夹已被替换"_s : u"未修改：文件夹已被替换"_s);
}

void TestRenamePass::nothingIsEverLost_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<quint32>("seeds");
    QTest::newRow("local") << u"local"_s << 300u;
    for (const QString& kind : MountedVolume::kinds())
        QTest::newRow(qPrintable(kind)) << kind << 40u;
}

// Random trees, settings and ticks, and a pass stopped after a random number of moves or not at all;
// afterwards every file must still exist exactly once, in its own folder, under its old name or, if
// the pass got to its row, under the name the row previewed, and the count shown must match.
void TestRenamePass::nothingIsEverLost()
{
    QFETCH(quint32, seeds);
    VOLUME_BASE(base);
    const QList<QByteArray> folderNames = { "d", "e", "d.txt" };
    const QList<QByteArray> fileNames = { "a.txt", "b.txt", "1.txt", "1", "a", "x.txt.bak", "A.TXT", "1.md",
        "k-1.txt", "k-01.txt", ".txt", "a.md" };
    const QStringList starts = { u"1"_s, u"01"_s, u" 2 "_s, u"abc"_s, QString(), u"-1"_s };
    const QStringList keywords = { QString(), u"k"_s, u" a "_s, u"../k"_s, u"1.txt"_s };
    const QStringList suffixes = { u".txt"_s, u".md"_s, QString(), u"md"_s, u".TXT"_s, u"/x"_s };
    const QStringList filters = { QString(), u".txt"_s, u"a"_s, u"1"_s };

    for (quint32 seed = 1; seed <= seeds; ++seed) {
        QRandomGenerator random(seed);
        auto pick = [&random](const auto& list) { return list.at(random.bounded(int(list.size()))); };
        Session session(base);
        QList<QByteArray> folders = { QByteArray() };
        for (int i = random.bounded(5); i > 0; --i) {
            const QByteArray folder = pick(folders);
            const QByteArray child = (folder.isEmpty() ? QByteArray() : folder + '/') + pick(folderNames);
            if (!folders.contains(child)) {
                session.tree.createDir(child);
                folders.append(child);
            }
        }
        int content = 0;
        for (int i = 2 + random.bounded(10); i > 0; --i) {
            const QByteArray folder = pick(folders);
            const QByteArray file = (folder.isEmpty() ? QByteArray() : folder + '/') + pick(fileNames);
            // Asking the volume itself skips a name that a case-insensitive volume already holds.
            if (!QFileInfo::exists(QFile::decodeName(session.tree.path(file))))
                session.tree.createFile(file, "content " + QByteArray::number(++content));
        }
        const Tree before = session.tree.snapshot();

        session.search(pick(filters));
        int checkedRows = 0;
        for (int row = 0; row < session.list.rowCount(); ++row) {
            session.list.setChecked(row, random.bounded(4) != 0);
            checkedRows += session.list.isChecked(row) ? 1 : 0;
        }
        const int stopAfter = 1 + random.bounded(checkedRows + 1);
        StoppingProgress progress(stopAfter);
        session.progress = &progress;
        NewNameRule::Settings settings;
        settings.ruleMode = random.bounded(2) == 0;
        settings.suffixMode = !settings.ruleMode;
        settings.patternIndex = random.bounded(8);
        settings.patternText = NewNameRule::patterns().at(settings.patternIndex);
        settings.startText = pick(starts);
        settings.keyword = pick(keywords);
        settings.newSuffix = pick(suffixes);
        for (const NewNameRule::PassValue& pass : NewNameRule::passValues(settings, QLocale::c()))
            session.apply(pass.value.toUtf8(), PassKind::Execute, pass.mode);

        const Tree after = session.tree.snapshot();
        QMap<QByteArray, QByteArray> whereNow; // content -> path
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            QVERIFY2(!whereNow.contains(it.value()), qPrintable(u"seed %1: duplicate content"_s.arg(seed)));
            whereNow.insert(it.value(), it.key());
        }
        QVERIFY2(after.size() == before.size(), qPrintable(u"seed %1: file count changed"_s.arg(seed)));

        // The pass got to the first checked rows, one move each, and to no more once stopped than the
        // moves under way on a slow volume: those its rows' marks tell.
        const auto toldAnOutcome = [&session](int row) {
            const QString mark = session.markOf(row);
            return mark == u"已修改" || mark.startsWith(u"修改失败");
        };
        QList<int> reached;
        for (int row = 0; row < session.list.rowCount(); ++row) {
            if (session.list.isChecked(row) && toldAnOutcome(row))
                reached.append(row);
        }
        const int moved = progress.moves;
        QCOMPARE_GE(reached.size(), std::min(1, checkedRows));
        QCOMPARE_LE(reached.size(), std::min(moved, checkedRows));
        for (const auto& [done, total] : progress.shown)
            QVERIFY2(done >= 0 && done <= moved && total == checkedRows,
                qPrintable(u"seed %1: progress %2 of %3"_s.arg(seed).arg(done).arg(total)));

        int carryingPreview = 0;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            QVERIFY2(whereNow.contains(it.value()),
                qPrintable(u"seed %1: lost %2"_s.arg(seed).arg(QString::fromUtf8(it.key()))));
            const QByteArray now = whereNow.value(it.value());
            const int row = session.rowOf(it.key());
            const bool moved = reached.contains(row);
            const QByteArray previewPath = moved
                ? it.key().left(it.key().lastIndexOf('/') + 1) + session.list.preview(row)
                : QByteArray();
            QVERIFY2(now == it.key() || now == previewPath,
                qPrintable(u"seed %1: %2 moved to %3"_s.arg(seed).arg(
                    QString::fromUtf8(it.key()), QString::fromUtf8(now))));
            if (moved && now == previewPath)
                ++carryingPreview;
        }
        QCOMPARE(session.renamed.size(), 1);
        QCOMPARE(session.renamed[0], carryingPreview);
        // A box for each failure, but for those of moves under way at the stop.
        QCOMPARE_LE(session.failedPaths().size(), reached.size() - carryingPreview);
        // Only the first checked rows tell what the pass did with them.
        int checkedBefore = 0;
        for (int row = 0; row < session.list.rowCount(); ++row) {
            QVERIFY2(toldAnOutcome(row) == (session.list.isChecked(row) && checkedBefore < reached.size()),
                qPrintable(u"seed %1: row %2 marked %3"_s.arg(seed).arg(row).arg(session.markOf(row))));
            checkedBefore += session.list.isChecked(row) ? 1 : 0;
        }

        // Taking the pass back leaves the tree exactly as it was.
        session.progress = nullptr;
        const qsizetype failures = session.failures.size();
        while (session.core.canUndo())
            session.undo();
        QVERIFY2(session.tree.snapshot() == before, qPrintable(u"seed %1: undo"_s.arg(seed)));
        QCOMPARE(session.failures.size(), failures);
    }
}

void TestRenamePass::conflictsAreMarked_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("extensionMode");
    QTest::addColumn<Marks>("marks"); // the rows of other files have none
    // Files that all get one name where the volume takes them for one name: the first row of them
    // is unmarked, the others name it. Where the volume tells the cases apart none of them is marked.
    QTest::addColumn<QByteArrayList>("sameName");
    QTest::addColumn<bool>("onlyWhereCaseIsIgnored");
    const QString local = u"local"_s;
    const QString txt = u".txt"_s;
    QTest::newRow("target exists") << local << QByteArrayList { "notes.txt", "notes.md", "free.txt" } << txt
                                   << QByteArray(".md") << true << Marks { { "notes.txt", u"目标已存在"_s } }
                                   << QByteArrayList() << false;
    QTest::newRow("three rows to one name")
        << local << QByteArrayList { "a.txt", "b.txt", "c.txt" } << txt << QByteArray("1") << false << Marks()
        << QByteArrayList { "a.txt", "b.txt", "c.txt" } << false;
    QTest::newRow("two extensions to one")
        << local << QByteArrayList { "a.txt", "a.csv", "b.txt" } << u"."_s << QByteArray(".md") << true
        << Marks() << QByteArrayList { "a.txt", "a.csv" } << false;
    QTest::newRow("own name is no conflict") << local << QByteArrayList { "a.txt" } << txt << QByteArray("a")
                                             << false << Marks() << QByteArrayList() << false;
    QTest::newRow("empty name") << local << QByteArrayList { "README" } << u"README"_s << QByteArray()
                                << false << Marks { { "README", u"名称不可用"_s } } << QByteArrayList()
                                << false;
    QTest::newRow("separator") << local << QByteArrayList { "a.txt" } << txt << QByteArray("sub/x") << false
                               << Marks { { "a.txt", u"名称不可用"_s } } << QByteArrayList() << false;
    QTest::newRow("over 255 letters")
        << local << QByteArrayList { "a.txt" } << txt << QByteArray(300, 'k') << false
        << Marks { { "a.txt", u"名称过长"_s } } << QByteArrayList() << false;
    QStringList volumes { local };
    for (const QString& kind : MountedVolume::kinds()) {
        if (kind == u"ext2" || kind == u"exfat" || kind == u"fat")
            volumes.append(kind);
    }
    for (const QString& volume : volumes) {
        // Two names that differ in letter case only.
        QTest::addRow("%s: two names one in other letters", qPrintable(volume))
            << volume << QByteArrayList { "a.TXT", "b.txt" } << txt << QByteArray("x") << false << Marks()
            << QByteArrayList { "a.TXT", "b.txt" } << true;
        // A camera card's photo, alone, in small letters: the move changes the letters.
        QTest::addRow("%s: letter case of one file", qPrintable(volume))
            << volume << QByteArrayList { "IMG.JPG" } << u".JPG"_s << QByteArray(".jpg") << true << Marks()
            << QByteArrayList() << false;
    }
    // 100 Chinese characters take 300 bytes of UTF-8, and 100 of the 255 UTF-16 units FAT, exFAT
    // and Windows count; FAT through FUSE holds printable ASCII only.
    const QByteArray chinese = QString(100, QChar(0x7167)).toUtf8();
#ifdef _WIN32
    QTest::newRow("100 chinese characters") << local << QByteArrayList { "a.txt" } << txt << chinese << false
                                            << Marks() << QByteArrayList() << false;
#else
    QTest::newRow("100 chinese characters")
        << local << QByteArrayList { "a.txt" } << txt << chinese << false
        << Marks { { "a.txt", u"名称过长"_s } } << QByteArrayList() << false;
    QTest::newRow("exfat: 100 chinese characters")
        << u"exfat"_s << QByteArrayList { "a.txt" } << txt << chinese << false << Marks() << QByteArrayList()
        << false;
    QTest::newRow("fat: 100 chinese characters")
        << u"fat"_s << QByteArrayList { "a.txt" } << txt << chinese << false
        << Marks { { "a.txt", u"名称不可用"_s } } << QByteArrayList() << false;
#endif
}

// A preview marks, and changes nothing on disk.
void TestRenamePass::conflictsAreMarked()
{
    QFETCH(QByteArrayList, files);
    QFETCH(QString, filter);
    QFETCH(QByteArray, value);
    QFETCH(bool, extensionMode);
    QFETCH(Marks, marks);
    QFETCH(QByteArrayList, sameName);
    QFETCH(bool, onlyWhereCaseIsIgnored);
    VOLUME_BASE(base);
    Session session(base);
    for (const QByteArray& file : files)
        session.tree.createFile(file, file);
    session.tree.createFile("probe");
    const bool ignoresCase = QFileInfo::exists(QFile::decodeName(session.tree.path("PROBE")));
    const Tree before = session.tree.snapshot();
    session.search(filter);
    session.apply(value, PassKind::Preview, extensionMode ? NameMode::NewExtension : NameMode::NewBase);

    if (onlyWhereCaseIsIgnored && !ignoresCase)
        sameName.clear();
    int firstOfName = session.list.rowCount();
    for (const QByteArray& file : sameName)
        firstOfName = std::min(firstOfName, session.rowOf(file));
    for (const QByteArray& file : files) {
        const int row = session.rowOf(file);
        if (row < 0) { // not searched for
            QVERIFY(!marks.contains(file) && !sameName.contains(file));
            continue;
        }
        QString expected = marks.value(file);
        if (sameName.contains(file) && row != firstOfName)
            expected = u"与第 %1 行同名"_s.arg(firstOfName + 1);
        QVERIFY2(session.markOf(row) == expected,
            qPrintable(
                QString::fromUtf8(file) + u": "_s + session.markOf(row) + u" instead of "_s + expected));
    }
    QCOMPARE(session.tree.snapshot(), before);
    QVERIFY(session.nothingFailed());
}

QTEST_GUILESS_MAIN(TestRenamePass)
#ifndef _WIN32

void TestRenamePass::refusingFoldersAreMarked_data()
{
    QTest::addColumn<bool>("readOnlyVolume");
    QTest::addColumn<QString>("foreseen");
    QTest::addColumn<RowMark>("failure");
    QTest::newRow("volume remounted read-only") << true << u"卷为只读"_s << RowMark::FailedReadOnlyVolume;
    // Immutable refuses every change, to root too.
    QTest::newRow("immutable folder") << false << u"没有权限"_s << RowMark::FailedNoPermission;
}

// A folder that refuses every rename, for real: the preview says so for each of its rows, asking
// once for the folder; an execute there shows each failure, and stops when asked after the first.
void TestRenamePass::refusingFoldersAreMarked()
{
    QFETCH(bool, readOnlyVolume);
    QFETCH(QString, foreseen);
    QFETCH(RowMark, failure);
    MountedVolume volume(u"ext2"_s);
    if (!volume.isMounted())
        QSKIP(qPrintable(volume.whyNot()));
    const QByteArray locked = volume.root() + "/locked";
    const QByteArray open = volume.root() + "/open";
    for (const QByteArray& folder : { locked, open }) {
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
        for (const char* name : { "/a.txt", "/b.txt" }) {
            QFile file(QFile::decodeName(folder + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    if (readOnlyVolume)
        QVERIFY2(volume.remountReadOnly(), qPrintable(volume.whyNot()));
    else
        QCOMPARE(QProcess::execute(u"chattr"_s, { u"+i"_s, QFile::decodeName(locked) }), 0);
    const auto unlock = qScopeGuard([&] {
        if (!readOnlyVolume)
            QProcess::execute(u"chattr"_s, { u"-i"_s, QFile::decodeName(locked) });
    });

    Session session;
    session.searchIn(volume.root(), u".txt"_s);
    QCOMPARE(session.list.rowCount(), 4);
    session.apply(".md", PassKind::Preview, NameMode::NewExtension);
    for (int row = 0; row < 4; ++row) {
        const bool refused = readOnlyVolume || session.list.folder(row).startsWith(locked);
        QCOMPARE(session.markOf(row), refused ? foreseen : QString());
    }

    int firstLocked = 0;
    while (!session.list.folder(firstLocked).startsWith(locked))
        ++firstLocked;
    for (int row = 0; row < firstLocked; ++row)
        session.list.setChecked(row, false);
    StoppingProgress stop(1);
    session.progress = &stop;
    session.apply(".md", PassKind::Execute, NameMode::NewExtension);
    QCOMPARE(session.renamed, QList<int> { 0 });
    QCOMPARE(session.failures, (QList<FileFailure> { { session.list.fullPath(firstLocked), failure } }));
    QCOMPARE(namesIn(locked), (QByteArrayList { "a.txt", "b.txt" }));
}
#endif

#include "test_rename_pass.moc"
