#include "folder_scan/folder_scan.h"
#include "test_support.h"

#include <QSet>
#include <QTest>

#include <climits>
#include <new>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace FolderAllList;
using namespace Qt::StringLiterals;

namespace {

struct FoundRow
{
    QByteArray folder;
    QByteArray base;
    QByteArray ext;
    bool operator==(const FoundRow&) const = default;
};

// Drives the scan with a recording row sink, counting the yields to the event loop.
struct ScanRecorder
{
    QList<FoundRow> rows;
    RecordingMessageBoxes messages;
    int yields = 0;
    std::function<void(const QByteArray& folder)> beforeAdd;
    std::function<void()> onYield;

    void scan(const QByteArray& path, const QString& filter)
    {
        ScanContext context {
            [this](const QByteArray& folder, QByteArrayView base, QByteArrayView ext) {
                if (beforeAdd)
                    beforeAdd(folder);
                rows.append({ folder, base.toByteArray(), ext.toByteArray() });
            },
            messages,
            [this] {
                ++yields;
                if (onYield)
                    onYield();
            },
        };
        ScanFolder(path, filter, context);
    }

    QList<QByteArray> folders() const
    {
        QList<QByteArray> result;
        for (const FoundRow& row : rows)
            result.append(row.folder);
        return result;
    }

    QSet<QByteArray> fullPaths() const
    {
        QSet<QByteArray> result;
        for (const FoundRow& row : rows)
            result.insert(row.folder + row.base + row.ext);
        return result;
    }
};

} // namespace

class TestFolderScan final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitFileName_data();
    void splitFileName();
    void filterMatch_data();
    void filterMatch();
    void walksDepthFirstPreOrder();
    void trailingSeparatorGivesSameRows();
    void nonUtf8NameKeepsItsBytes();
    void linksAreListedAndNeverFollowed();
    void hiddenEntriesAreScanned();
    void yieldsEveryFiftyEntriesOfOneFolder_data();
    void yieldsEveryFiftyEntriesOfOneFolder();
    void changedSubfolderIsSkippedSilently_data();
    void changedSubfolderIsSkippedSilently();
    void deepFolders_data();
    void deepFolders();
    void unreadableSubfolderIsSkippedSilently();
    void failureInOneFolderIsShownOnceAndSiblingsGoOn();
    void pathThatIsAFileListsNothing();
};

void TestFolderScan::splitFileName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("ext");
    QTest::newRow("plain extension") << QByteArray("report.txt") << QByteArray("report")
                                     << QByteArray(".txt");
    QTest::newRow("last dot wins") << QByteArray("a.b.c") << QByteArray("a.b") << QByteArray(".c");
    QTest::newRow("no dot") << QByteArray("README") << QByteArray("README") << QByteArray();
    QTest::newRow("dot file") << QByteArray(".profile") << QByteArray() << QByteArray(".profile");
    QTest::newRow("trailing dot") << QByteArray("name.") << QByteArray("name") << QByteArray(".");
    QTest::newRow("not utf-8") << QByteArray("\xff\xfe.\xe9t") << QByteArray("\xff\xfe")
                               << QByteArray(".\xe9t");
}

void TestFolderScan::splitFileName()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, ext);
    const SplitName split = SplitFileName(name);
    QCOMPARE(split.base.toByteArray(), base);
    QCOMPARE(split.ext.toByteArray(), ext);
    QCOMPARE(split.base.toByteArray() + split.ext.toByteArray(), name);
}

void TestFolderScan::filterMatch_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("kept");
    QTest::newRow("suffix, upper filter") << u".TXT"_s << QByteArray("Notes.txt") << true;
    QTest::newRow("suffix, upper name") << u".txt"_s << QByteArray("NOTES.TXT") << true;
    QTest::newRow("suffix inside name") << u".txt"_s << QByteArray("a.txt.bak") << true;
    QTest::newRow("suffix with more letters") << u".txt"_s << QByteArray("b.txtx") << true;
    QTest::newRow("other suffix") << u".txt"_s << QByteArray("c.md") << false;
    QTest::newRow("empty filter") << QString() << QByteArray("anything") << true;
    QTest::newRow("keyword in middle") << u"PORT"_s << QByteArray("report.doc") << true;
    QTest::newRow("chinese") << u"照片"_s << QByteArray("假期照片01.jpg") << true;
    QTest::newRow("chinese missing") << u"照片"_s << QByteArray("假期01.jpg") << false;
    QTest::newRow("accented capital") << u"é"_s << QByteArray("CAFÉ.txt") << true;
    QTest::newRow("sharp s") << u"ß"_s << QByteArray("STRAẞE.txt") << true;
    QTest::newRow("kelvin sign lowers to k") << u"k"_s << QByteArray("\xe2\x84\xaa.txt") << true;
    QTest::newRow("non-ascii filter, ascii name") << u"é"_s << QByteArray("cafe.txt") << false;
    QTest::newRow("name not text, ascii filter") << u".TXT"_s << TestSystem::notText + ".txt" << true;
}

void TestFolderScan::filterMatch()
{
    QFETCH(QString, filter);
    QFETCH(QByteArray, name);
    QFETCH(bool, kept);
    SKIP_UNLESS_NAME_HELD(name);
    TestTree tree;
    tree.createFile(name);
    tree.createFile("zzz-unrelated.bin");
    ScanRecorder recorder;
    recorder.scan(tree.root(), filter);
    QCOMPARE(recorder.fullPaths().contains(tree.path(name)), kept);
}

void TestFolderScan::walksDepthFirstPreOrder()
{
    TestTree tree;
    const QList<QByteArray> dirs = { "a", "a/a1", "a/a1/deep", "a/a2", "b", "b/b1", "c" };
    for (const QByteArray& dir : dirs)
        tree.createDir(dir);
    QList<QByteArray> files = { "top1.txt", "top2.txt" };
    for (const QByteArray& dir : dirs) {
        files.append(dir + "/x.txt");
        files.append(dir + "/y.txt");
    }
    for (const QByteArray& file : files)
        tree.createFile(file);
    tree.createFile("a/skip.md");

    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);

    QSet<QByteArray> expected;
    for (const QByteArray& file : files)
        expected.insert(tree.path(file));
    QCOMPARE(recorder.fullPaths(), expected);

    // Pre-order: a folder's own files come first, each folder's rows are contiguous, and once the
    // walk has left a folder's subtree it never comes back to it.
    const QList<QByteArray> folders = recorder.folders();
    QCOMPARE(folders.first(), tree.root() + Platform::Separator);
    QSet<QByteArray> finished;
    for (qsizetype i = 1; i < folders.size(); ++i) {
        if (folders[i] == folders[i - 1])
            continue;
        QVERIFY2(!finished.contains(folders[i]), folders[i].constData());
        for (QByteArray left = folders[i - 1]; !folders[i].startsWith(left);) {
            finished.insert(left);
            left.chop(1);
            left = left.left(left.lastIndexOf(Platform::Separator) + 1);
        }
        for (const QByteArray& done : finished)
            QVERIFY2(!folders[i].startsWith(done), folders[i].constData());
    }
}

void TestFolderScan::trailingSeparatorGivesSameRows()
{
    TestTree tree;
    tree.createDir("data");
    tree.createDir("data/sub");
    tree.createFile("data/one.txt");
    tree.createFile("data/sub/two.txt");

    ScanRecorder without;
    without.scan(tree.path("data"), u".txt"_s);
    ScanRecorder with;
    with.scan(tree.path("data/"), u".txt"_s);
    QCOMPARE(without.rows.size(), 2);
    QCOMPARE(with.rows, without.rows);
    for (const FoundRow& row : std::as_const(with.rows))
        QVERIFY(row.folder == tree.path("data/") || row.folder == tree.path("data/sub/"));
}

void TestFolderScan::nonUtf8NameKeepsItsBytes()
{
    const QByteArray base = "caf " + TestSystem::notText;
    SKIP_UNLESS_NAME_HELD(base);
    TestTree tree;
    tree.createFile(base + ".TXT");
    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);
    QCOMPARE(recorder.rows.size(), 1);
    QCOMPARE(recorder.rows[0].base, base);
    QCOMPARE(recorder.rows[0].ext, QByteArray(".TXT"));
}

void TestFolderScan::linksAreListedAndNeverFollowed()
{
    if (const QString whyNot = TestTree::whyNoLinks(); !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    TestTree tree;
    tree.createDir("sub");
    tree.createFile("sub/real.txt");
    QVERIFY(tree.createLink("sub/loop", "."));
    QVERIFY(tree.createLink("sub/up", ".."));
    QVERIFY(tree.createLink("dangling", "missing"));

    ScanRecorder recorder;
    recorder.scan(tree.root(), QString());
    const QSet<QByteArray> expected
        = { tree.path("sub/real.txt"), tree.path("sub/loop"), tree.path("sub/up"), tree.path("dangling") };
    QCOMPARE(recorder.fullPaths(), expected);
}

void TestFolderScan::hiddenEntriesAreScanned()
{
    TestTree tree;
    tree.createDir(".hidden");
    tree.createFile(".hidden/.secret.txt");
    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);
    QCOMPARE(recorder.fullPaths(), QSet<QByteArray> { tree.path(".hidden/.secret.txt") });
}

void TestFolderScan::yieldsEveryFiftyEntriesOfOneFolder_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("subfolders");
    QTest::addColumn<int>("yields");
    // Every count includes "." and "..".
    QTest::newRow("49 entries") << 47 << 0 << 0;
    QTest::newRow("50 entries") << 48 << 0 << 1;
    QTest::newRow("99 entries") << 97 << 0 << 1;
    QTest::newRow("120 entries") << 118 << 0 << 2;
    QTest::newRow("120 entries, subfolders count") << 98 << 20 << 2;
    QTest::newRow("counters are per folder") << 40 << 3 << 0;
}

void TestFolderScan::yieldsEveryFiftyEntriesOfOneFolder()
{
    QFETCH(int, files);
    QFETCH(int, subfolders);
    QFETCH(int, yields);
    TestTree tree;
    for (int i = 0; i < files; ++i)
        tree.createFile("f" + QByteArray::number(i));
    // Each subfolder holds 40 entries of its own, which must not add up with the parent's.
    for (int i = 0; i < subfolders; ++i) {
        const QByteArray dir = "d" + QByteArray::number(i);
        tree.createDir(dir);
        if (subfolders < 10) {
            for (int j = 0; j < 38; ++j)
                tree.createFile(dir + "/g" + QByteArray::number(j));
        }
    }
    ScanRecorder recorder;
    recorder.scan(tree.root(), QString());
    QCOMPARE(recorder.yields, yields);
}

void TestFolderScan::changedSubfolderIsSkippedSilently_data()
{
    QTest::addColumn<bool>("swappedForLink"); // else removed
    QTest::newRow("removed") << false;
    QTest::newRow("swapped for a link") << true;
}

void TestFolderScan::changedSubfolderIsSkippedSilently()
{
    QFETCH(bool, swappedForLink);
    if (const QString whyNot = TestTree::whyNoLinks(); swappedForLink && !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    TestTree tree;
    for (const QByteArray dir : { "a", "b", "c" }) {
        tree.createDir(dir);
        tree.createFile(dir + "/in.txt");
    }
    for (int i = 0; i < 60; ++i)
        tree.createFile("top" + QByteArray::number(i) + ".txt");
    TestTree outside;
    outside.createFile("in.txt");
    outside.createFile("outside.txt");

    // The root's listing already holds "b" when the scan yields; another program changes it then,
    // before the walk gets to it.
    ScanRecorder recorder;
    recorder.onYield = [&] {
        if (recorder.yields > 1)
            return;
        QVERIFY(QFile::remove(QString::fromUtf8(tree.path("b/in.txt"))));
        QVERIFY(QDir().rmdir(QString::fromUtf8(tree.path("b"))));
        if (swappedForLink)
            QVERIFY(tree.createLink("b", outside.root()));
    };
    recorder.scan(tree.root(), u".txt"_s);
    QVERIFY(recorder.messages.shown.isEmpty());
    QVERIFY(recorder.fullPaths().contains(tree.path("a/in.txt")));
    QVERIFY(recorder.fullPaths().contains(tree.path("c/in.txt")));
    QCOMPARE(recorder.rows.size(), 62);
}

void TestFolderScan::deepFolders_data()
{
    QTest::addColumn<int>("componentLength");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("deepestListed");
#ifdef _WIN32
    // Windows takes paths of 32,767 characters in their long form, far beyond the 260 of old.
    constexpr int longestPath = 32767;
    QTest::newRow("beyond 260 characters") << 20 << 30 << true;
#else
    constexpr int longestPath = PATH_MAX;
#endif
    // As deep as the longest path the system accepts allows: on Linux more levels than open files
    // are allowed by default, and the scan holds one per level.
    QTest::newRow("deepest the path limit allows") << 1 << (longestPath - 256) / 2 << true;
#ifndef _WIN32
    // Folders nested beyond the longest path the system accepts cannot be listed by path; only
    // Linux can make them, by handle.
    QTest::newRow("beyond the path limit") << 200 << 25 << false;
#endif
}

void TestFolderScan::deepFolders()
{
    QFETCH(int, componentLength);
    QFETCH(int, depth);
    QFETCH(bool, deepestListed);
    if (TestSystem::underWine() && componentLength * depth > 4000)
        QSKIP("Wine hands whole paths to Linux, which takes 4,096 bytes at most");
    TestTree tree;
    tree.createDir("deep");
    tree.createDir("sibling");
    tree.createFile("sibling/kept.txt");
    const QByteArray deepest
        = tree.createNested("deep", QByteArray(componentLength, 'd'), depth, "bottom.txt");
    QVERIFY(!deepest.isEmpty());

#ifndef _WIN32
    // The scan starts with the open-file limit most desktop sessions give a program.
    struct rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::min<rlim_t>(1024, limit.rlim_max);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
#endif
    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);
    QVERIFY(recorder.messages.shown.isEmpty());
    QSet<QByteArray> expected { tree.path("sibling/kept.txt") };
    if (deepestListed)
        expected.insert(deepest + "bottom.txt");
    QCOMPARE(recorder.fullPaths(), expected);
}

void TestFolderScan::unreadableSubfolderIsSkippedSilently()
{
#ifdef _WIN32
    QSKIP("on Windows a folder refuses its listing by an access control list, which Wine does not enforce; "
          "the changed-subfolder and deep-folder tests cover this path");
#else
    if (::geteuid() == 0)
        QSKIP("permissions do not stop root; the changed-subfolder and deep-folder tests cover this path");
    TestTree tree;
    for (const QByteArray dir : { "a", "locked", "z" }) {
        tree.createDir(dir);
        tree.createFile(dir + "/in.txt");
    }
    QCOMPARE(::chmod(tree.path("locked").constData(), 0), 0);
    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);
    ::chmod(tree.path("locked").constData(), 0755);
    QVERIFY(recorder.messages.shown.isEmpty());
    QCOMPARE(recorder.fullPaths(), (QSet<QByteArray> { tree.path("a/in.txt"), tree.path("z/in.txt") }));
#endif
}

void TestFolderScan::failureInOneFolderIsShownOnceAndSiblingsGoOn()
{
    TestTree tree;
    for (const QByteArray dir : { "a", "bad", "bad/child", "c" }) {
        tree.createDir(dir);
        tree.createFile(dir + "/one.txt");
        tree.createFile(dir + "/two.txt");
    }
    ScanRecorder recorder;
    const QByteArray badFolder = tree.path("bad/");
    recorder.beforeAdd = [&](const QByteArray& folder) {
        if (folder == badFolder)
            throw std::bad_alloc();
    };
    recorder.scan(tree.root(), u".txt"_s);

    QCOMPARE(recorder.messages.shown.size(), 1);
    QCOMPARE(recorder.messages.shown[0].text, u"请填写正确的规则！"_s);
    QVERIFY(recorder.messages.shown[0].title != u"ERROR"_s);
    QVERIFY(!recorder.messages.shown[0].title.isEmpty());
    const QSet<QByteArray> expected
        = { tree.path("a/one.txt"), tree.path("a/two.txt"), tree.path("c/one.txt"), tree.path("c/two.txt") };
    QCOMPARE(recorder.fullPaths(), expected);
}

void TestFolderScan::pathThatIsAFileListsNothing()
{
    TestTree tree;
    tree.createFile("plain.txt");
    ScanRecorder recorder;
    recorder.scan(tree.path("plain.txt"), QString());
    QVERIFY(recorder.rows.isEmpty());
    QVERIFY(recorder.messages.shown.isEmpty());
}

QTEST_GUILESS_MAIN(TestFolderScan)
#include "test_folder_scan.moc"
