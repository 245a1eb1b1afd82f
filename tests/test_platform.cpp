#include "mounted_volume.h"
#include "platform/platform.h"
#include "test_support.h"

#include <QTest>

#include <cerrno>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

using Move = std::function<int(const Platform::FolderHandle&, const QByteArray&, const QByteArray&)>;

} // namespace

Q_DECLARE_METATYPE(Move)

class TestPlatform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { Volumes::unmountAll(); }
    void moves_data();
    void movesFile();
    void movesFile_data() { moves_data(); }
    void neverReplacesExistingTarget();
    void neverReplacesExistingTarget_data() { moves_data(); }
    void missingSourceFails();
    void missingSourceFails_data() { moves_data(); }
    void caseOnlyMoveSaysWhatItDid();
    void caseOnlyMoveSaysWhatItDid_data() { moves_data(); }
    void movesNonUtf8NameAndLink();
    void movesNonUtf8NameAndLink_data() { moves_data(); }
    void fallsBackOnlyWhenTheFileSystemRefuses_data();
    void fallsBackOnlyWhenTheFileSystemRefuses();
    void temporaryNameBeginsWithTheOldName_data();
    void temporaryNameBeginsWithTheOldName();
    void waysOfMovingOnEachVolume_data();
    void waysOfMovingOnEachVolume();
    void opensFoldersOnlyBeneath_data();
    void opensFoldersOnlyBeneath();
    void listingReportsDirectoriesButNotLinksToThem();
    void firstMatchingEntry_data();
    void firstMatchingEntry();
};

void TestPlatform::moves_data()
{
    QTest::addColumn<Move>("move");
    QTest::addColumn<QString>("wineLacks"); // why Wine cannot move this way, where it cannot
    QTest::newRow("mover") << Move(
        [](const Platform::FolderHandle& folder, const QByteArray& from, const QByteArray& to) {
            return Platform::FileMover().move(folder, from, to).error;
        }) << QString();
    QTest::newRow("rename no-replace")
        << Move(Platform::renameNoReplace)
        << u"Wine 8 refuses a rename named relative to a folder handle (FileRenameInformation with a "
           "RootDirectory) with ERROR_INVALID_PARAMETER; Windows takes it"_s;
    QTest::newRow("link then unlink") << Move(Platform::linkThenUnlink) << QString();
    QTest::newRow("check then rename") << Move(Platform::checkThenRename) << QString();
}

// Skips the row where Wine lacks the way of moving it tries.
#define SKIP_WHERE_WINE_LACKS_THE_WAY()                                                                      \
    do {                                                                                                     \
        QFETCH(QString, wineLacks);                                                                          \
        if (TestSystem::underWine() && !wineLacks.isEmpty())                                                 \
            QSKIP(qPrintable(wineLacks));                                                                    \
    } while (false)

void TestPlatform::movesFile()
{
    QFETCH(Move, move);
    SKIP_WHERE_WINE_LACKS_THE_WAY();
    TestTree tree;
    tree.createFile("old.txt", "content");
    QCOMPARE(move(Platform::openFolder(tree.root()), "old.txt", "new.txt"), 0);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "new.txt", "content" } }));
}

void TestPlatform::neverReplacesExistingTarget()
{
    QFETCH(Move, move);
    SKIP_WHERE_WINE_LACKS_THE_WAY();
    TestTree tree;
    tree.createFile("a.txt", "first");
    tree.createFile("b.txt", "second");
    tree.createFile("c.txt", "third");
    QMap<QByteArray, QByteArray> expected { { "a.txt", "first" }, { "b.txt", "second" },
        { "c.txt", "third" } };
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    QCOMPARE(move(folder, "a.txt", "b.txt"), EEXIST);
    // Where the volume tells the cases apart, another file whose name differs only in case is
    // another file, and stays; Windows folds case, and letter-case changes have tests of their own.
    if (tree.tryCreateFile("C.TXT", "fourth")) {
        QCOMPARE(move(folder, "c.txt", "C.TXT"), EEXIST);
        expected.insert("C.TXT", "fourth");
    }
    QCOMPARE(tree.snapshot(), expected);
}

void TestPlatform::missingSourceFails()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("other", "x");
    QCOMPARE(move(Platform::openFolder(tree.root()), "gone", "new"), ENOENT);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "other", "x" } }));
}

// A change of letter case only, which a case-insensitive volume sees as a move onto the file itself:
// a way either makes it and says so, or says the target exists and leaves the name. Wine 8 reports
// a case-only MoveFileExW as done and keeps the old name; reading the name back catches that.
void TestPlatform::caseOnlyMoveSaysWhatItDid()
{
    QFETCH(Move, move);
    SKIP_WHERE_WINE_LACKS_THE_WAY();
    TestTree tree;
    tree.createFile("photo.txt", "p");
    const int error = move(Platform::openFolder(tree.root()), "photo.txt", "Photo.txt");
    QVERIFY2(error == 0 || error == EEXIST, qPrintable(QString::number(error)));
    QCOMPARE(
        tree.snapshot(), (QMap<QByteArray, QByteArray> { { error == 0 ? "Photo.txt" : "photo.txt", "p" } }));
    // The mover goes through a temporary name where the direct way cannot.
    if (QByteArrayView(QTest::currentDataTag()) == "mover")
        QCOMPARE(error, 0);
}

void TestPlatform::movesNonUtf8NameAndLink()
{
    QFETCH(Move, move);
    SKIP_WHERE_WINE_LACKS_THE_WAY();
    const QByteArray from = TestSystem::notText + ".txt";
    const QByteArray to = "\xe9" + TestSystem::notText + ".md";
    SKIP_UNLESS_NAME_HELD(from);
    if (const QString whyNot = TestTree::whyNoLinks(); !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    TestTree tree;
    tree.createFile(from, "bytes");
    QVERIFY(tree.createLink("link", from));
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    QCOMPARE(move(folder, from, to), 0);
    QCOMPARE(move(folder, "link", "link2"), 0);
    // The link itself moves; it still points at the old name.
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { to, "bytes" }, { "link2", "->" + from } }));
}

namespace {

// What each step of the chain answers, and which steps ran.
int stepAnswers[3];
QList<int> stepsRun;

template <int step> int recordingStep(const Platform::FolderHandle&, const QByteArray&, const QByteArray&)
{
    stepsRun.append(step);
    return stepAnswers[step];
}

} // namespace

void TestPlatform::fallsBackOnlyWhenTheFileSystemRefuses_data()
{
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QList<int>>("run");
    QTest::addColumn<int>("result");
    // on the next move on the same file system: a refused way is skipped once another way has moved
    QTest::addColumn<QList<int>>("runNextTime");
    QTest::newRow("moved at once") << QList<int> { 0, 0, 0 } << QList<int> { 0 } << 0 << QList<int> { 0 };
    QTest::newRow("target exists: no other way is tried")
        << QList<int> { EEXIST, 0, 0 } << QList<int> { 0 } << EEXIST << QList<int> { 0 };
    QTest::newRow("missing source") << QList<int> { ENOENT, 0, 0 } << QList<int> { 0 } << ENOENT
                                    << QList<int> { 0 };
    QTest::newRow("flag refused: hard link")
        << QList<int> { EINVAL, 0, 0 } << QList<int> { 0, 1 } << 0 << QList<int> { 1 };
    QTest::newRow("call missing: hard link")
        << QList<int> { ENOSYS, 0, 0 } << QList<int> { 0, 1 } << 0 << QList<int> { 1 };
    QTest::newRow("flag unsupported: hard link")
        << QList<int> { ENOTSUP, 0, 0 } << QList<int> { 0, 1 } << 0 << QList<int> { 1 };
    QTest::newRow("hard link finds the target")
        << QList<int> { EINVAL, EEXIST, 0 } << QList<int> { 0, 1 } << EEXIST << QList<int> { 0, 1 };
    QTest::newRow("hard links refused: check and rename")
        << QList<int> { EINVAL, EPERM, 0 } << QList<int> { 0, 1, 2 } << 0 << QList<int> { 2 };
    QTest::newRow("hard links unsupported: check and rename") << QList<int> { EINVAL, EOPNOTSUPP,
        EEXIST } << QList<int> { 0, 1, 2 } << EEXIST << QList<int> { 0, 1, 2 };
    QTest::newRow("a name the volume cannot hold says nothing of the ways")
        << QList<int> { EINVAL, EPERM, EINVAL } << QList<int> { 0, 1, 2 } << EINVAL << QList<int> { 0, 1, 2 };
    QTest::newRow("read-only file system stops at once")
        << QList<int> { EROFS, 0, 0 } << QList<int> { 0 } << EROFS << QList<int> { 0 };
}

// No local file system refuses the no-replace flag or hard links, so the chain's choices are driven
// with steps that only answer as such a file system would; the real ones are met on mounted volumes
// below.
void TestPlatform::fallsBackOnlyWhenTheFileSystemRefuses()
{
    QFETCH(QList<int>, answers);
    QFETCH(QList<int>, run);
    QFETCH(int, result);
    QFETCH(QList<int>, runNextTime);
    std::copy(answers.begin(), answers.end(), stepAnswers);
    TestTree tree;
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    Platform::FileMover mover({ recordingStep<0>, recordingStep<1>, recordingStep<2> });
    stepsRun.clear();
    QCOMPARE(mover.move(folder, "from", "to").error, result);
    QCOMPARE(stepsRun, run);
    stepsRun.clear();
    mover.move(folder, "from", "to");
    QCOMPARE(stepsRun, runNextTime);
}

namespace {

QList<QByteArray> targetsAsked;

// Answers the first move as a case-insensitive volume answers a change of letter case, and moves
// nothing, so that the temporary name the mover picks can be read.
int findsTheFileItself(const Platform::FolderHandle&, const QByteArray&, const QByteArray& to)
{
    targetsAsked.append(to);
    return targetsAsked.size() == 1 ? EEXIST : 0;
}

} // namespace

void TestPlatform::temporaryNameBeginsWithTheOldName_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QByteArray>("head"); // what comes before the random part
    const QString local = u"local"_s;
    QTest::newRow("a photo") << local << QByteArray("IMG_04383.JPG") << QByteArray("IMG_04383.jpg")
                             << QByteArray("IMG_04383.JPG");
    // 35 characters go to the random part and the suffix, 255 being the longest name.
    const QByteArray longName = QByteArray(250, 'x') + ".JPG";
    QTest::newRow("a long name is cut") << local << longName << longName.toLower() << longName.first(220);
    // 80 characters of three bytes each: 220 bytes end inside the 74th, so the cut comes before it.
    const QByteArray chinese = QString(80, QChar(0x7167)).toUtf8() + ".JPG";
    const QByteArray lower = QString(80, QChar(0x7167)).toUtf8() + ".jpg";
#ifdef _WIN32
    // Windows counts UTF-16 units, so the whole name fits.
    QTest::newRow("cut between letters") << local << chinese << lower << chinese;
#else
    QTest::newRow("cut between letters") << local << chinese << lower << chinese.first(219);
    // exFAT counts UTF-16 units, so the whole name fits.
    QTest::newRow("exfat: counted in UTF-16") << u"exfat"_s << chinese << lower << chinese;
    // The Kelvin sign is a capital K to case folding; FAT through FUSE holds printable ASCII only.
    QTest::newRow("fat: printable ASCII only")
        << u"fat"_s << QByteArray("\xe2\x84\xaa.JPG") << QByteArray("k.JPG") << QByteArray("_.JPG");
#endif
}

void TestPlatform::temporaryNameBeginsWithTheOldName()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QByteArray, head);
    VOLUME_BASE(base);
    TestTree tree(base);
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    Platform::FileMover mover({ findsTheFileItself, findsTheFileItself, findsTheFileItself });
    targetsAsked.clear();
    const Platform::MoveResult result = mover.move(folder, from, to);
    QCOMPARE(result.error, 0);
    QVERIFY(result.throughTemporaryName);
    QCOMPARE(targetsAsked.size(), 3);
    const QByteArray temporary = targetsAsked[1];
    QVERIFY2(temporary.startsWith(head + '.') && temporary.endsWith(".batch-renamer-tmp"), temporary.constData());
    QCOMPARE(temporary.size(), head.size() + 35);
}

void TestPlatform::waysOfMovingOnEachVolume_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<Platform::MoveWay>("way");
    QTest::addColumn<bool>("foldsCase"); // whether a change of case only goes through a temporary name
    using Way = Platform::MoveWay;
#ifdef _WIN32
    // NTFS renames by handle and changes the case of a name in one move. Wine 8 refuses a rename
    // relative to a folder handle, so its files move by hard link; a hard link to the same name in
    // other letters finds the file itself, so a change of case goes through a temporary name there.
    // (Wine also reports a case-only MoveFileExW as done and keeps the old name: a move by path is
    // read back.)
    if (TestSystem::underWine())
        QTest::newRow("local") << u"local"_s << Way::LinkThenUnlink << true;
    else
        QTest::newRow("local") << u"local"_s << Way::RenameNoReplace << false;
#else
    QTest::newRow("local") << u"local"_s << Way::RenameNoReplace << false;
    QTest::newRow("ext2") << u"ext2"_s << Way::RenameNoReplace << false;
    QTest::newRow("btrfs") << u"btrfs"_s << Way::RenameNoReplace << false;
    QTest::newRow("exfat") << u"exfat"_s << Way::CheckThenRename << true;
    QTest::newRow("fat") << u"fat"_s << Way::CheckThenRename << true;
    QTest::newRow("ntfs") << u"ntfs"_s << Way::LinkThenUnlink << false;
#endif
}

void TestPlatform::waysOfMovingOnEachVolume()
{
    QFETCH(Platform::MoveWay, way);
    QFETCH(bool, foldsCase);
    VOLUME_BASE(base);
    TestTree tree(base);
    tree.createFile("IMG_0001.JPG", "1");
    tree.createFile("b.txt", "b");
    tree.createFile("c.txt", "c");
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    Platform::FileMover mover;
    const Platform::MoveResult plain = mover.move(folder, "b.txt", "b.md");
    QCOMPARE(plain.error, 0);
    QCOMPARE(plain.way, way);
    QVERIFY(!plain.throughTemporaryName);
    QCOMPARE(mover.move(folder, "c.txt", "b.md").error, EEXIST);
    const Platform::MoveResult caseOnly = mover.move(folder, "IMG_0001.JPG", "IMG_0001.jpg");
    QCOMPARE(caseOnly.error, 0);
    QCOMPARE(caseOnly.way, way);
    QCOMPARE(caseOnly.throughTemporaryName, foldsCase);
    QCOMPARE(tree.snapshot(),
        (QMap<QByteArray, QByteArray> { { "IMG_0001.jpg", "1" }, { "b.md", "b" }, { "c.txt", "c" } }));
}

void TestPlatform::opensFoldersOnlyBeneath_data()
{
    QTest::addColumn<bool>("byComponents"); // the walk used where the kernel has no openat2
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<QByteArray>("reached"); // the marker file found in the folder reached, or empty
    // Relative paths are written with '/' and given with the system's separators.
    for (const bool open : { false, true }) {
        auto row = [open](const char* label) -> QTestData& {
            return QTest::addRow("%s: %s", open ? "walk" : "openat2", label);
        };
        row("the folder itself") << open << QByteArray() << QByteArray("top");
        row("child") << open << QByteArray("a") << QByteArray("in-a");
        row("grandchild, trailing separator") << open << QByteArray("a/b/") << QByteArray("in-b");
        row("link at the first level") << open << QByteArray("link") << QByteArray();
        row("link two levels down") << open << QByteArray("a/link") << QByteArray();
        row("link above a real folder") << open << QByteArray("link/b") << QByteArray();
        row("parent") << open << QByteArray("..") << QByteArray();
        row("out and back in") << open << QByteArray("../tree/a") << QByteArray();
        row("missing") << open << QByteArray("a/none") << QByteArray();
        row("a file") << open << QByteArray("a/in-a") << QByteArray();
#ifdef _WIN32
        row("a drive letter") << open << QByteArray("C:") << QByteArray();
        row("a drive path") << open << QByteArray("C:/") << QByteArray();
        row("a UNC path") << open << QByteArray("//localhost/C$") << QByteArray();
        row("a long-form path") << open << QByteArray("//?/C:/") << QByteArray();
        row("an alternate data stream") << open << QByteArray("a:stream") << QByteArray();
#endif
    }
}

void TestPlatform::opensFoldersOnlyBeneath()
{
    QFETCH(bool, byComponents);
    QFETCH(QByteArray, relative);
    QFETCH(QByteArray, reached);
    const QString whyNoLinks = TestTree::whyNoLinks();
    if (relative.contains("link") && !whyNoLinks.isEmpty())
        QSKIP(qPrintable(whyNoLinks));
    relative.replace('/', Platform::Separator);
    TestTree outside;
    outside.createDir("tree");
    outside.createDir("tree/a");
    outside.createDir("tree/a/b");
    outside.createFile("tree/top");
    outside.createFile("tree/a/in-a");
    outside.createFile("tree/a/b/in-b");
    outside.createDir("elsewhere");
    outside.createFile("elsewhere/outside");
    if (whyNoLinks.isEmpty()) {
        QVERIFY(outside.createLink("tree/link", outside.path("elsewhere")));
        QVERIFY(outside.createLink("tree/a/link", "../../elsewhere"));
    }
    const Platform::FolderHandle base = Platform::openFolder(outside.path("tree"));
    const Platform::FolderHandle folder = byComponents ? Platform::openFolderByComponents(base, relative)
                                                       : Platform::openFolderBeneath(base, relative);
    QCOMPARE(folder.isOpen(), !reached.isEmpty());
    if (folder.isOpen())
        QVERIFY(Platform::entryExists(folder, reached));
}

void TestPlatform::listingReportsDirectoriesButNotLinksToThem()
{
    if (const QString whyNot = TestTree::whyNoLinks(); !whyNot.isEmpty())
        QSKIP(qPrintable(whyNot));
    TestTree tree;
    tree.createDir("dir");
    tree.createFile("file");
    QVERIFY(tree.createLink("dirlink", "dir"));
    QMap<QByteArray, bool> seen;
    const Platform::FolderHandle root = Platform::openFolderToList(tree.root());
    Platform::DirListing listing(root);
    QVERIFY(listing.isOpen());
    Platform::DirEntry entry;
    while (listing.next(entry))
        seen.insert(entry.name.toByteArray(), entry.isDirectory);
    listing.close();
    QVERIFY(!listing.next(entry));
    const QMap<QByteArray, bool> expected
        = { { ".", true }, { "..", true }, { "dir", true }, { "file", false }, { "dirlink", false } };
    QCOMPARE(seen, expected);
    QVERIFY(!Platform::openFolderToList(tree.path("file")).isOpen());
    QVERIFY(!Platform::openFolderToList(tree.path("missing")).isOpen());

    // Below a folder, only a real folder opens; whatever path leads to a folder, it is the same one.
    const Platform::FolderHandle dir = Platform::openSubfolderToList(root, "dir");
    QVERIFY(Platform::DirListing(dir).isOpen());
    QVERIFY(!Platform::openSubfolderToList(root, "dirlink").isOpen());
    QVERIFY(!Platform::openSubfolderToList(root, "file").isOpen());
    QCOMPARE(Platform::openFolder(tree.path("dirlink")).identity(), dir.identity());
    QCOMPARE(Platform::openFolder(tree.path("dir/..")).identity(), root.identity());
    QVERIFY(dir.identity() != root.identity());
}

void TestPlatform::firstMatchingEntry_data()
{
    QTest::addColumn<QByteArray>("relative"); // "" stands for the root itself
    QTest::addColumn<QByteArray>("found");
    QTest::newRow("folder") << QByteArray("data") << QByteArray("data");
    QTest::newRow("folder with trailing separator") << QByteArray("data/") << QByteArray("data");
    QTest::newRow("folder with doubled separators") << QByteArray("data//") << QByteArray("data");
    QTest::newRow("one-character folder") << QByteArray("a") << QByteArray("a");
    QTest::newRow("existing file") << QByteArray("data/file.txt") << QByteArray("file.txt");
    QTest::newRow("missing") << QByteArray("nothing") << QByteArray();
    QTest::newRow("hidden folder") << QByteArray(".hidden") << QByteArray();
    QTest::newRow("inside hidden folder") << QByteArray(".hidden/inner") << QByteArray("inner");
    QTest::newRow("dot") << QByteArray("data/.") << QByteArray();
    QTest::newRow("star") << QByteArray("da*") << QByteArray("data");
    QTest::newRow("question mark") << QByteArray("dat?") << QByteArray("data");
    QTest::newRow("star skips hidden") << QByteArray("*idden") << QByteArray();
    QTest::newRow("no wildcard match") << QByteArray("x*") << QByteArray();
    QTest::newRow("brackets are literal") << QByteArray("[ab]*") << QByteArray("[ab]c");
    QTest::newRow("brackets do not form a set") << QByteArray("[bd]ata*") << QByteArray();
#ifdef _WIN32
    QTest::newRow("a leading dot alone hides nothing") << QByteArray(".dotted") << QByteArray(".dotted");
#endif
}

void TestPlatform::firstMatchingEntry()
{
    QFETCH(QByteArray, relative);
    QFETCH(QByteArray, found);
    TestTree tree;
    tree.createDir("data");
    tree.createFile("data/file.txt");
    tree.createDir("a");
    tree.createDir(".hidden");
    tree.createDir(".hidden/inner");
    tree.createFile("[ab]c");
#ifdef _WIN32
    // Windows hides by an attribute, not by a leading dot.
    tree.makeHidden(".hidden");
    tree.createDir(".dotted");
#endif
    QCOMPARE(Platform::firstMatchingEntry(tree.path(relative)), found);
    // The root of the file system, or of the drive on Windows, is found as itself.
    const QByteArray fileSystemRoot = Platform::pathFromText(QDir::rootPath());
    QCOMPARE(Platform::firstMatchingEntry(fileSystemRoot), fileSystemRoot);
    QCOMPARE(Platform::firstMatchingEntry(""), QByteArray());
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
