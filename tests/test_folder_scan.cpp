#include "folder_scan/folder_scan.h"
#include "folder_scan/name_filter.h"
#include "mounted_volume.h"
#include "runner/runner.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <chrono>
#include <climits>
#include <new>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
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
    QByteArrayList failures; // the folders the walk failed in, as it told them
    int yields = 0;
    std::function<void(const QByteArray& folder)> beforeAdd;
    std::function<void()> onYield;
    std::function<void()> onWait; // while the walk waits for a folder's listing
    int foldersReadAhead = 8;
    Runner runner;

    void scan(const QByteArray& path, const QString& filter)
    {
        // The walk's yields come to the recorder; only its waits let events through the runner.
        runner.setBeforeEvents(onWait);
        ScanContext context {
            [this](const QByteArray& folder, QByteArrayView base, QByteArrayView ext) {
                if (beforeAdd)
                    beforeAdd(folder);
                rows.append({ folder, base.toByteArray(), ext.toByteArray() });
            },
            [this](const FolderFailure& failure) { failures.append(failure.folder); },
            [this] {
                ++yields;
                if (onYield)
                    onYield();
            },
            runner,
            foldersReadAhead,
        };
        ScanFolder(path, filter, context);
    }

    // The same rows, yields and boxes from a walk that lists one folder at a time and then enters its
    // subfolders, recursively: what the scan must give however far it reads ahead.
    void scanOneFolderAtATime(const QByteArray& path, const QString& filter)
    {
        const QByteArray dir = folderText(path);
        walkOneFolder(Platform::openFolderToList(dir), dir, NameFilter(filter));
    }

    void walkOneFolder(const Platform::FolderHandle& folder, const QByteArray& dir, const NameFilter& filter)
    {
        QByteArrayList subfolders;
        try {
            Platform::DirListing listing(folder);
            Platform::DirEntry entry;
            int entryCounter = 0;
            while (listing.next(entry)) {
                if (++entryCounter == 50) {
                    entryCounter = 0;
                    ++yields;
                }
                if (entry.isDirectory) {
                    if (entry.name != QByteArrayView(".") && entry.name != QByteArrayView("..")
                        && !entry.isTrash)
                        subfolders.append(entry.name.toByteArray());
                } else if (filter.matches(entry.name)) {
                    if (beforeAdd)
                        beforeAdd(dir);
                    const SplitName split = SplitFileName(entry.name);
                    rows.append({ dir, split.base.toByteArray(), split.ext.toByteArray() });
                }
            }
        } catch (...) {
            failures.append(dir);
            return;
        }
        for (const QByteArray& name : std::as_const(subfolders)) {
            const Platform::FolderHandle subfolder = Platform::openSubfolderToList(folder, name);
            if (subfolder.isOpen())
                walkOneFolder(subfolder, dir + name + Platform::Separator, filter);
        }
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
    void readAheadGivesWhatOneFolderAtATimeGives_data();
    void readAheadGivesWhatOneFolderAtATimeGives();
    void trailingSeparatorGivesSameRows();
    void nonUtf8NameKeepsItsBytes();
    void linksAreListedAndNeverFollowed();
    void hiddenEntriesAreScanned_data();
    void hiddenEntriesAreScanned();
    void folderMetAgainBelowItselfIsNotEntered();
    void yieldsEveryFiftyEntriesOfOneFolder_data();
    void yieldsEveryFiftyEntriesOfOneFolder();
    void eventsGoThroughWhileAListingStalls_data();
    void eventsGoThroughWhileAListingStalls();
    void changedSubfolderIsSkippedSilently_data();
    void changedSubfolderIsSkippedSilently();
    void deepFolders_data();
    void deepFolders();
    void unreadableSubfolderIsSkippedSilently();
    void failureInOneFolderIsShownOnceAndSiblingsGoOn();
    void pathThatIsAFileListsNothing();
    void cleanupTestCase() { Volumes::unmountAll(); }
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

void TestFolderScan::readAheadGivesWhatOneFolderAtATimeGives_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<quint32>("seeds");
    QTest::newRow("local") << u"local"_s << 50u;
    for (const QString& kind : MountedVolume::kinds())
        QTest::newRow(qPrintable(kind)) << kind << 6u;
}

// Random trees, filters, reach of the read-ahead, and now and then a folder whose rows fail: the scan
// gives the rows, in their order, the yields and the boxes of the walk one folder at a time.
void TestFolderScan::readAheadGivesWhatOneFolderAtATimeGives()
{
    QFETCH(QString, volume);
    QFETCH(quint32, seeds);
    VOLUME_BASE(base);
    const QList<QByteArray> folderNames = { "d", "e", "f.txt", "g" };
    const QList<QByteArray> fileNames = { "a.txt", "b.TXT", "c", "a.md", "x.txt.bak" };
    const QStringList filters = { QString(), u".txt"_s, u"a"_s };
    for (quint32 seed = 1; seed <= seeds; ++seed) {
        QRandomGenerator random(seed);
        auto pick = [&random](const auto& list) { return list.at(random.bounded(int(list.size()))); };
        TestTree tree(base);
        QList<QByteArray> folders = { QByteArray() };
        for (int i = random.bounded(30); i > 0; --i) {
            const QByteArray child = pick(folders) + pick(folderNames) + '/';
            if (!folders.contains(child)) {
                tree.createDir(child);
                folders.append(child);
            }
        }
        // Now and then one folder with enough entries for a few yields, and on the local disk a top
        // folder with more than a folder keeps while it waits to be walked.
        const int roll = random.bounded(8);
        const QByteArray crowded = roll == 0 ? QByteArray() : pick(folders);
        const int crowdedFiles = roll == 0 && volume == u"local"_s ? 2100
            : roll < 4                                             ? 60 + random.bounded(80)
                                                                   : 0;
        for (const QByteArray& folder : std::as_const(folders)) {
            const int files = folder == crowded ? crowdedFiles : random.bounded(6);
            for (int i = 0; i < files; ++i)
                tree.createFile(folder + QByteArray::number(i) + pick(fileNames));
        }
        const QString filter = pick(filters);
        const QByteArray failing = random.bounded(3) == 0 ? tree.path(pick(folders)) : QByteArray();

        ScanRecorder oneAtATime;
        ScanRecorder readAhead;
        readAhead.foldersReadAhead = 1 + random.bounded(8);
        for (ScanRecorder* recorder : { &oneAtATime, &readAhead }) {
            recorder->beforeAdd = [&failing](const QByteArray& folder) {
                if (folder == failing)
                    throw std::bad_alloc();
            };
        }
        oneAtATime.scanOneFolderAtATime(tree.root(), filter);
        readAhead.scan(tree.root(), filter);
        const QByteArray what = "seed " + QByteArray::number(seed);
        QVERIFY2(readAhead.rows == oneAtATime.rows, what.constData());
        QVERIFY2(readAhead.yields == oneAtATime.yields, what.constData());
        QVERIFY2(readAhead.failures == oneAtATime.failures, what.constData());
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

void TestFolderScan::hiddenEntriesAreScanned_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<bool>("atTop"); // of the volume, else in a folder of its own
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<bool>("walked");
    QTest::newRow("hidden folder") << u"local"_s << false << QByteArray(".hidden") << true;
    QTest::newRow("trash name below a volume's top")
        << u"local"_s << false << QByteArray(".Trash-1000") << true;
    // Where desktops keep what was deleted from a USB stick or a camera card.
    QTest::newRow("trash at an exFAT top") << u"exfat"_s << true << QByteArray(".Trash-1000") << false;
    QTest::newRow("shared trash at an ext2 top") << u"ext2"_s << true << QByteArray(".Trash") << false;
    QTest::newRow("hidden folder at an exFAT top") << u"exfat"_s << true << QByteArray(".hidden") << true;
    QTest::newRow("trash-like name at an exFAT top") << u"exfat"_s << true << QByteArray(".Trash-me") << true;
}

void TestFolderScan::hiddenEntriesAreScanned()
{
    QFETCH(bool, atTop);
    QFETCH(QByteArray, folder);
    QFETCH(bool, walked);
    VOLUME_BASE(base);
    // Where the local disk stands in for the volume (Windows), its top is the drive's own, with
    // everything on it: not the test's to write in or to search.
    if (atTop && base.isEmpty())
        QSKIP("the local disk stands in for this volume, and its top is not the test's");
    TestTree tree(base);
    QByteArray searched = tree.root();
    if (atTop) {
        searched = base;
        const QString top = QFile::decodeName(base) + u'/' + QFile::decodeName(folder);
        QVERIFY(QDir().mkdir(top));
        QVERIFY(QFile(top + u"/.secret.txt"_s).open(QIODevice::WriteOnly));
    } else {
        tree.createDir(folder);
        tree.createFile(folder + "/.secret.txt");
    }
    tree.createFile("kept.txt");
    ScanRecorder recorder;
    recorder.scan(searched, u".txt"_s);
    if (atTop)
        QVERIFY(QDir(QFile::decodeName(base + '/' + folder)).removeRecursively());
    QSet<QByteArray> expected = { tree.path("kept.txt") };
    if (walked)
        expected.insert(folderText(searched) + folder + Platform::Separator + ".secret.txt");
    QCOMPARE(recorder.fullPaths(), expected);
}

// A bind mount of a folder inside itself makes a loop no link check sees: the folder opened below is
// the same folder.
void TestFolderScan::folderMetAgainBelowItselfIsNotEntered()
{
#ifdef _WIN32
    QSKIP("Windows cannot mount a folder inside itself, and the scan never enters junctions; a loop "
          "there comes from a link that a share's server follows");
#else
    if (!ownMountNamespace)
        QSKIP("a bind mount needs root, in a mount namespace of the test's own");
    TestTree tree;
    tree.createDir("a");
    tree.createDir("a/loop");
    tree.createFile("top.txt");
    tree.createFile("a/inside.txt");
    QCOMPARE(::mount(tree.root().constData(), tree.path("a/loop").constData(), nullptr, MS_BIND, nullptr), 0);
    ScanRecorder recorder;
    recorder.scan(tree.root(), u".txt"_s);
    QCOMPARE(::umount2(tree.path("a/loop").constData(), MNT_DETACH), 0);
    QCOMPARE(recorder.fullPaths(), (QSet<QByteArray> { tree.path("top.txt"), tree.path("a/inside.txt") }));
    QVERIFY(recorder.failures.isEmpty());
#endif
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

void TestFolderScan::eventsGoThroughWhileAListingStalls_data()
{
    QTest::addColumn<int>("files"); // more than a folder keeps at once: stalled in its later entries
    QTest::addColumn<bool>("searchTheVolume"); // else the folder that holds its mount point
    QTest::newRow("searched folder") << 3 << true;
    QTest::newRow("first entries") << 3 << false;
    QTest::newRow("later entries") << 1100 << false;
}

// A volume that stops answering (a share, here an exFAT volume whose driver is stopped) holds the
// listing of its folder on a thread of its own, never the window: while the walk waits, events go
// through.
void TestFolderScan::eventsGoThroughWhileAListingStalls()
{
#ifdef _WIN32
    QSKIP("stalls a FUSE driver, which Windows has not");
#else
    QFETCH(int, files);
    QFETCH(bool, searchTheVolume);
    MountedVolume volume(u"exfat"_s);
    if (!volume.isMounted())
        QSKIP(qPrintable(volume.whyNot()));
    for (int i = 0; i < files; ++i)
        QVERIFY(
            QFile(QFile::decodeName(volume.root()) + u"/photo%1.txt"_s.arg(i)).open(QIODevice::WriteOnly));
    const auto driver = static_cast<pid_t>(volume.driverProcess());
    QVERIFY(driver > 0);
    // The driver goes on after a while, whatever the walk does meanwhile.
    std::thread resume;
    const auto stall = [&] {
        if (resume.joinable() || ::kill(driver, SIGSTOP) != 0)
            return;
        resume = std::thread([driver] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(driver, SIGCONT);
        });
    };
    ScanRecorder recorder;
    QElapsedTimer sinceEvents;
    qint64 longestGapMs = 0;
    recorder.onWait = [&] { longestGapMs = std::max(longestGapMs, sinceEvents.restart()); };
    recorder.onYield = [&] {
        longestGapMs = std::max(longestGapMs, sinceEvents.restart());
        stall(); // within the large folder, its first entries walked
    };
    if (files < 50)
        stall();
    sinceEvents.start();
    // The folder that holds the mount point lists without the driver.
    recorder.scan(searchTheVolume ? volume.root()
                                  : QFile::encodeName(QFileInfo(QFile::decodeName(volume.root())).path()),
        u".txt"_s);
    longestGapMs = std::max(longestGapMs, sinceEvents.elapsed());
    const bool stalled = resume.joinable();
    if (stalled)
        resume.join();
    QVERIFY(stalled);
    QCOMPARE(recorder.rows.size(), files);
    QVERIFY2(longestGapMs < 250, qPrintable(u"events waited %1 ms"_s.arg(longestGapMs)));
#endif
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
    constexpr int subfolders = 12;
    for (int i = 0; i < subfolders; ++i) {
        const QByteArray dir = "d" + QByteArray::number(i);
        tree.createDir(dir);
        tree.createFile(dir + "/in.txt");
    }
    for (int i = 0; i < 60; ++i)
        tree.createFile("top" + QByteArray::number(i) + ".txt");
    TestTree outside;
    outside.createFile("in.txt");
    outside.createFile("outside.txt");

    // The subfolder the root's listing gives last still waits to be listed when the scan yields: the
    // scan lists only the next eight folders of its walk ahead. Another program changes it then.
    QByteArray changed;
    {
        Platform::DirListing listing(Platform::openFolderToList(tree.root()));
        Platform::DirEntry entry;
        while (listing.next(entry)) {
            if (entry.name.startsWith('d'))
                changed = entry.name.toByteArray();
        }
    }
    ScanRecorder recorder;
    recorder.onYield = [&] {
        if (recorder.yields > 1)
            return;
        QVERIFY(QFile::remove(QString::fromUtf8(tree.path(changed + "/in.txt"))));
        QVERIFY(QDir().rmdir(QString::fromUtf8(tree.path(changed))));
        if (swappedForLink)
            QVERIFY(tree.createLink(changed, outside.root()));
    };
    recorder.scan(tree.root(), u".txt"_s);
    QVERIFY(recorder.failures.isEmpty());
    QCOMPARE(recorder.yields, 1);
    QSet<QByteArray> expected;
    for (int i = 0; i < 60; ++i)
        expected.insert(tree.path("top" + QByteArray::number(i) + ".txt"));
    for (int i = 0; i < subfolders; ++i) {
        if ("d" + QByteArray::number(i) != changed)
            expected.insert(tree.path("d" + QByteArray::number(i) + "/in.txt"));
    }
    QCOMPARE(recorder.fullPaths(), expected);
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
    QVERIFY(recorder.failures.isEmpty());
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
    QVERIFY(recorder.failures.isEmpty());
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

    QCOMPARE(recorder.failures, QByteArrayList { badFolder });
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
    QVERIFY(recorder.failures.isEmpty());
}

QTEST_GUILESS_MAIN(TestFolderScan)
#include "test_folder_scan.moc"
