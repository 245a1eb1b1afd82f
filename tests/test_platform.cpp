#include "mounted_volume.h"
#include "platform/file_mover.h"
#include "platform/platform.h"
#include "system_stand_in.h"
#include "test_support.h"

#include <QTest>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    void bringsBackFromAnotherFolder();
    void removesOnlyASecondName_data();
    void removesOnlyASecondName();
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
    void listingTellsTrashFolders_data();
    void listingTellsTrashFolders();
#ifdef _WIN32
    void movesAsWindowsAnswers_data();
    void movesAsWindowsAnswers();
#endif
    void firstMatchingEntry_data();
    void firstMatchingEntry();
};

void TestPlatform::moves_data()
{
    QTest::addColumn<Move>("move");
    QTest::newRow("mover") << Move(
        [](const Platform::FolderHandle& folder, const QByteArray& from, const QByteArray& to) {
            return Platform::FileMover().move(folder, from, to).error;
        });
    QTest::newRow("rename no-replace") << Move(Platform::renameNoReplace);
    QTest::newRow("link then unlink")
        << Move([](const Platform::FolderHandle& folder, const QByteArray& from, const QByteArray& to) {
               return Platform::linkThenUnlink(folder, from, to, {});
           });
    QTest::newRow("check then rename") << Move(Platform::checkThenRename);
}

void TestPlatform::movesFile()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("old.txt", "content");
    QCOMPARE(move(Platform::openFolder(tree.root()), "old.txt", "new.txt"), 0);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "new.txt", "content" } }));
}

void TestPlatform::neverReplacesExistingTarget()
{
    QFETCH(Move, move);
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

// A file put in another folder goes back to its own under its old name, never over another file.
void TestPlatform::bringsBackFromAnotherFolder()
{
    TestTree tree;
    tree.createDir("photos");
    tree.createDir("elsewhere");
    tree.createFile("elsewhere/a.jpg", "a");
    tree.createFile("elsewhere/b.jpg", "b");
    tree.createFile("photos/b.txt", "taken");
    const Platform::FolderHandle elsewhere = Platform::openFolder(tree.path("elsewhere"));
    const Platform::FolderHandle photos = Platform::openFolder(tree.path("photos"));
    QCOMPARE(Platform::moveBackInto(elsewhere, "a.jpg", photos, "a.txt"), 0);
    QCOMPARE(Platform::moveBackInto(elsewhere, "b.jpg", photos, "b.txt"), EEXIST);
    QCOMPARE(Platform::moveBackInto(elsewhere, "gone.jpg", photos, "c.txt"), ENOENT);
    QCOMPARE(tree.snapshot(),
        (QMap<QByteArray, QByteArray> {
            { "photos/a.txt", "a" }, { "elsewhere/b.jpg", "b" }, { "photos/b.txt", "taken" } }));
}

void TestPlatform::removesOnlyASecondName_data()
{
    QTest::addColumn<QString>("volume");
    QTest::newRow("local") << u"local"_s;
#ifndef _WIN32
    QTest::newRow("exfat") << u"exfat"_s;
    QTest::newRow("fat") << u"fat"_s;
#endif
}

// A name goes only where it holds the same bytes as the name kept, which is never touched; where
// the volume ignores letter case (FAT, exFAT, Windows), a name that reaches the kept file itself is
// no second name.
void TestPlatform::removesOnlyASecondName()
{
    VOLUME_BASE(base);
    TestTree tree(base);
    tree.createFile("a.txt", "photo");
    tree.createFile("a.md", "photo");
    tree.createFile("b.txt", "photo");
    tree.createFile("b.md", "phot0");
    const Platform::FolderHandle folder = Platform::openFolder(tree.root());
    QCOMPARE(Platform::removeSecondName(folder, "a.md", "a.txt"), 0);
    QCOMPARE(Platform::removeSecondName(folder, "b.md", "b.txt"), EEXIST);
    QCOMPARE(Platform::removeSecondName(folder, "c.md", "a.txt"), ENOENT);
    QCOMPARE(Platform::removeSecondName(folder, "A.TXT", "a.txt"),
        Platform::ignoresLetterCase(folder, "a.txt") ? EEXIST : ENOENT);
#ifndef _WIN32
    // A pipe is not waited on for a writer: only files are compared. FAT and exFAT hold none.
    QFETCH(QString, volume);
    if (volume == u"local") {
        QCOMPARE(::mkfifo(tree.path("d.md").constData(), 0600), 0);
        QCOMPARE(Platform::removeSecondName(folder, "d.md", "a.txt"), EEXIST);
        QVERIFY(::unlink(tree.path("d.md").constData()) == 0);
    }
#endif
    QCOMPARE(tree.snapshot(),
        (QMap<QByteArray, QByteArray> { { "a.txt", "photo" }, { "b.md", "phot0" }, { "b.txt", "photo" } }));
}

// A change of letter case only, which a case-insensitive volume sees as a move onto the file itself:
// a way either makes it and says so, or says the target exists and leaves the name. Wine 8 reports
// a case-only MoveFileExW, and a case-only rename by handle, as done and keeps the old name; reading
// the name back catches that.
void TestPlatform::caseOnlyMoveSaysWhatItDid()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("photo.txt", "p");
    const int error = move(Platform::openFolder(tree.root()), "photo.txt", "Photo.txt");
    QVERIFY2(error == 0 || error == EEXIST, qPrintable(QString::number(error)));
    QCOMPARE(
        tree.snapshot(), (QMap<QByteArray, QByteArray> { { error == 0 ? "Photo.txt" : "photo.txt", "p" } }));
    // The mover goes through a temporary name where the direct way cannot; the rename by handle
    // changes the case itself, on Windows' own file systems too, but not under Wine.
    const QByteArrayView way(QTest::currentDataTag());
    if (way == "mover" || (way == "rename no-replace" && !TestSystem::underWine()))
        QCOMPARE(error, 0);
}

void TestPlatform::movesNonUtf8NameAndLink()
{
    QFETCH(Move, move);
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

// The link step is also told when the link is made, which these steps never make.
template <int step, typename... Linked>
int recordingStep(const Platform::FolderHandle&, const QByteArray&, const QByteArray&, const Linked&...)
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
template <typename... Linked>
int findsTheFileItself(
    const Platform::FolderHandle&, const QByteArray&, const QByteArray& to, const Linked&...)
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
    QVERIFY2(
        temporary.startsWith(head + '.') && temporary.endsWith(".batch-renamer-tmp"), temporary.constData());
    QCOMPARE(temporary.size(), head.size() + 35);
}

void TestPlatform::waysOfMovingOnEachVolume_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<Platform::MoveWay>("way");
    QTest::addColumn<bool>("foldsCase"); // whether a change of case only goes through a temporary name
    using Way = Platform::MoveWay;
#ifdef _WIN32
    // NTFS, and FAT and exFAT as Windows' own driver answers, rename by handle, relative to the
    // folder's, and change the case of a name in one rename. Wine 8 renames by handle too, but reports
    // a case-only rename as done and keeps the old name; the read-back catches that, and the change
    // goes through a temporary name there.
    const bool wine = TestSystem::underWine();
    QTest::newRow("local") << u"local"_s << Way::RenameNoReplace << wine;
    QTest::newRow("fat") << u"fat"_s << Way::RenameNoReplace << wine;
    // exFAT giving no file numbers: the name the renamed file reports tells where it went.
    QTest::newRow("exfat") << u"exfat"_s << Way::RenameNoReplace << wine;
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

void TestPlatform::listingTellsTrashFolders_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isTrash");
    QTest::newRow("hidden folder") << QByteArray(".hidden") << false;
#ifdef _WIN32
    // Windows gives a recycle bin and the volume's own folder both the hidden and the system
    // attribute; Wine keeps both as Windows does.
    QTest::newRow("recycle bin") << QByteArray("$RECYCLE.BIN") << true;
    QTest::newRow("system volume information") << QByteArray("System Volume Information") << true;
#endif
}

void TestPlatform::listingTellsTrashFolders()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, isTrash);
    TestTree tree;
    tree.createDir(name);
#ifdef _WIN32
    tree.makeHidden(name, isTrash ? FILE_ATTRIBUTE_SYSTEM : 0);
#endif
    Platform::DirListing listing(Platform::openFolderToList(tree.root()));
    Platform::DirEntry entry;
    bool found = false;
    while (!found && listing.next(entry))
        found = entry.name == QByteArrayView(name);
    QVERIFY(found);
    QVERIFY(entry.isDirectory);
    QVERIFY(entry.isHidden);
    QCOMPARE(entry.isTrash, isTrash);
}

#ifdef _WIN32

namespace {

using MoveResultOf = std::function<Platform::MoveResult(
    const Platform::FolderHandle&, const QByteArray&, const QByteArray&)>;
using SetInformation = Platform::Native::InformationFile;
using QueryInformation = Platform::Native::InformationFile;

// What answers FileInformation calls in place of the system; none: the system itself.
struct Answers
{
    SetInformation setInformation = nullptr;
    NTSTATUS status = 0; // what `answersStatus` answers a move by handle with
    bool folderHeld = false; // another program holds the photos' folder open without write sharing
    QueryInformation queryInformation = nullptr; // what answers queries in place of the system
    Platform::Native::MoveByPath moveFileEx = nullptr; // what moves by path in place of the system
    Platform::Native::CreateFile createFile = nullptr; // what opens in place of the system
};

MoveResultOf byStep(Platform::MoveStep step, Platform::MoveWay way)
{
    return [step, way](const Platform::FolderHandle& folder, const QByteArray& from, const QByteArray& to) {
        const int error = step(folder, from, to);
        return Platform::MoveResult { error, error == 0 ? way : Platform::MoveWay::NotMoved, false, {} };
    };
}

using SystemStandIn::systemSetInformation;

// NTFS on Windows 10 1809 and later: FileDispositionInformationEx with
// FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE deletes the name of a read-only file. Wine 8 answers
// that class with STATUS_NOT_IMPLEMENTED, so the attribute is put aside for the plain deletion, which
// Wine refuses for a read-only file as NTFS does, and put back afterwards.
NTSTATUS NTAPI ntfsDeletesReadOnlyNames(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked != Platform::Native::fileDispositionInformationEx)
        return systemSetInformation(file, ioStatus, information, length, asked);
    const auto flags = static_cast<Platform::Native::DispositionInformationEx*>(information)->flags;
    if (!(flags & Platform::Native::dispositionIgnoreReadOnlyAttribute))
        return Platform::Native::statusInvalidParameter;
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0));
    const HANDLE attributes = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_BASIC_INFO basic = {};
    GetFileInformationByHandleEx(attributes, FileBasicInfo, &basic, sizeof basic);
    const DWORD kept = basic.FileAttributes;
    const auto setAttributes = [attributes](DWORD value) {
        FILE_BASIC_INFO changed = {}; // times of 0 stay as they are
        changed.FileAttributes = value ? value : FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(attributes, FileBasicInfo, &changed, sizeof changed);
    };
    setAttributes(kept & ~FILE_ATTRIBUTE_READONLY);
    Platform::Native::DispositionInformation plain { TRUE };
    const NTSTATUS status = systemSetInformation(
        file, ioStatus, &plain, sizeof plain, Platform::Native::fileDispositionInformation);
    setAttributes(kept);
    CloseHandle(attributes);
    return status;
}

// Windows before 1809, which knows no FileDispositionInformationEx, or not its flags; the plain
// deletion then refuses a read-only file with STATUS_CANNOT_DELETE, on NTFS as under Wine.
NTSTATUS NTAPI deletesNoReadOnlyNames(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileDispositionInformationEx)
        return Platform::Native::statusInvalidInfoClass;
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// A file in a cloud drive's folder (OneDrive) kept as a placeholder: its provider allows no hard
// link (CF_HARDLINK_POLICY_NONE, the default), which the cloud filter refuses with
// STATUS_CLOUD_FILE_INCOMPATIBLE_HARDLINKS.
NTSTATUS NTAPI cloudRefusesHardLinks(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileLinkInformation)
        return Platform::Native::statusCloudFileIncompatibleHardlinks;
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// A third-party file-system driver that ignores RootDirectory: it reports a link made and makes none.
NTSTATUS NTAPI linksNowhere(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileLinkInformation)
        return 0;
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// The same driver making the link in another folder, "elsewhere", since it ignores RootDirectory, on
// NTFS of Windows 10 1809 and later.
HANDLE elsewhere = nullptr;
std::wstring linkedElsewhere; // the name it gave there

NTSTATUS NTAPI linksElsewhere(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileLinkInformation) {
        auto* info = static_cast<FILE_RENAME_INFO*>(information);
        info->RootDirectory = elsewhere;
        linkedElsewhere.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
    }
    return ntfsDeletesReadOnlyNames(file, ioStatus, information, length, asked);
}

// What NTFS tells of the names a file has: FileHardLinkInformation lists each name with the number
// of its folder (FILE_LINKS_INFORMATION, FILE_LINK_ENTRY_INFORMATION), here the file's own and the
// one the driver above gave it in "elsewhere" while it is there. Wine 8 answers the class with
// STATUS_NOT_IMPLEMENTED.
NTSTATUS NTAPI listsLinks(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    using Platform::Native::LinkEntryInformation;
    if (asked != Platform::Native::fileHardLinkInformation)
        return Platform::Native::systemCalls().queryInformationFile(
            file, ioStatus, information, length, asked);
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0));
    const HANDLE own = FatDriver::openFolder(path.substr(0, path.rfind(L'\\')));
    std::vector<std::pair<LONGLONG, std::wstring>> names { { LONGLONG(FatDriver::wineNumber(own)),
        path.substr(path.rfind(L'\\') + 1) } };
    CloseHandle(own);
    std::wstring there(32768, L'\0');
    there.resize(GetFinalPathNameByHandleW(elsewhere, there.data(), DWORD(there.size()), 0));
    const HANDLE linked = CreateFileW((there + L'\\' + linkedElsewhere).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (linked != INVALID_HANDLE_VALUE && FatDriver::wineNumber(linked) == FatDriver::wineNumber(file))
        names.push_back({ LONGLONG(FatDriver::wineNumber(elsewhere)), linkedElsewhere });
    if (linked != INVALID_HANDLE_VALUE)
        CloseHandle(linked);
    auto* links = static_cast<Platform::Native::LinksInformation*>(information);
    links->entriesReturned = ULONG(names.size());
    auto* entry = &links->entry;
    for (size_t index = 0; index < names.size(); ++index) {
        const auto& [parent, name] = names[index];
        entry->parentFileId = parent;
        entry->fileNameLength = ULONG(name.size());
        std::copy(name.begin(), name.end(), entry->fileName);
        const ULONG size
            = ULONG(offsetof(LinkEntryInformation, fileName) + name.size() * sizeof(wchar_t) + 7) & ~7U;
        entry->nextEntryOffset = index + 1 < names.size() ? size : 0;
        entry = reinterpret_cast<LinkEntryInformation*>(reinterpret_cast<char*>(entry) + size);
    }
    links->bytesNeeded = ULONG(reinterpret_cast<char*>(entry) - static_cast<char*>(information));
    return 0;
}

// NTFS opens any folder of the volume by its number (NtCreateFile with FILE_OPEN_BY_FILE_ID, relative
// to any handle on the volume); Wine 8 does not find "elsewhere" that way from "photos". Here
// "elsewhere" is opened by its number, and no other folder is.
NTSTATUS NTAPI opensElsewhereById(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
    PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER allocationSize, ULONG fileAttributes, ULONG shareAccess,
    ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength)
{
    if (!(options & FILE_OPEN_BY_FILE_ID))
        return Platform::Native::systemCalls().createFile(handle, access, attributes, ioStatus,
            allocationSize, fileAttributes, shareAccess, disposition, options, eaBuffer, eaLength);
    LONGLONG number = 0;
    std::memcpy(&number, attributes->ObjectName->Buffer, sizeof number);
    if (attributes->ObjectName->Length != sizeof number
        || ULONGLONG(number) != FatDriver::wineNumber(elsewhere))
        return Platform::Native::statusInvalidParameter;
    return DuplicateHandle(
               GetCurrentProcess(), elsewhere, GetCurrentProcess(), handle, 0, FALSE, DUPLICATE_SAME_ACCESS)
        ? 0
        : Platform::Native::statusInvalidParameter;
}

// A status Windows answers a rename or link with where Wine has no cause to: a volume gone under an
// open handle (a card taken from its reader, a drive dismounted, a network share deleted), a file
// another program is deleting, a cloud file its provider is working on ([MS-ERREF] 2.3.1), or a
// RootDirectory the volume will not take for a hard link ([MS-FSCC] 2.4.27 FileLinkInformation:
// STATUS_INVALID_PARAMETER).
NTSTATUS answeredStatus = 0;

NTSTATUS NTAPI answersStatus(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked == Platform::Native::fileRenameInformation || asked == Platform::Native::fileLinkInformation)
        return answeredStatus;
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// A third-party file-system driver that takes a relative name, with RootDirectory or without, as one
// in the volume's root ("elsewhere" here); full paths it takes as they are.
NTSTATUS NTAPI renamesIntoRoot(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    auto* info = static_cast<FILE_RENAME_INFO*>(information);
    if ((asked == Platform::Native::fileRenameInformation || asked == Platform::Native::fileLinkInformation)
        && (info->FileNameLength == 0 || info->FileName[0] != L'\\'))
        info->RootDirectory = elsewhere;
    return systemSetInformation(file, ioStatus, information, length, asked);
}

// A driver that reports a link made and makes none, while another program makes a file of its own
// under the link's name in the file's folder.
NTSTATUS NTAPI linkNameTakenByAnother(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    if (asked != Platform::Native::fileLinkInformation)
        return systemSetInformation(file, ioStatus, information, length, asked);
    const auto* info = static_cast<const FILE_RENAME_INFO*>(information);
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()), 0));
    path.resize(path.rfind(L'\\') + 1);
    path.append(info->FileName, info->FileNameLength / sizeof(wchar_t));
    // Not read-only, as the photo is, so that nothing but the check of its id keeps it.
    CloseHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return 0;
}

// The same driver, while another program takes the file's old name the moment it has left it, so
// that the file cannot be moved back by its full path ([MS-FSCC] 2.4.37: a rename without
// ReplaceIfExists to an existing name fails with STATUS_OBJECT_NAME_COLLISION).
NTSTATUS NTAPI renamesIntoRootOldNameTaken(
    HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information, ULONG length, FILE_INFORMATION_CLASS asked)
{
    const auto* info = static_cast<const FILE_RENAME_INFO*>(information);
    if (asked == Platform::Native::fileRenameInformation && info->FileNameLength > 0
        && info->FileName[0] == L'\\') {
        std::wstring path(info->FileName, info->FileNameLength / sizeof(wchar_t));
        path[1] = L'\\'; // "\??\D:\photos\old.jpg" as "\\?\D:\photos\old.jpg"
        CloseHandle(CreateFileW(
            path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr));
    }
    return renamesIntoRoot(file, ioStatus, information, length, asked);
}

// A volume whose driver puts a file moved by full path into another folder ("elsewhere"), which
// MoveFileEx reports as a success all the same: it says nothing of where the file went.
BOOL WINAPI movesByPathElsewhere(LPCWSTR existing, LPCWSTR target, DWORD flags)
{
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(elsewhere, path.data(), DWORD(path.size()), 0));
    const std::wstring_view name(target);
    return MoveFileExW(existing, (path + std::wstring(name.substr(name.rfind(L'\\')))).c_str(), flags);
}

} // namespace

Q_DECLARE_METATYPE(MoveResultOf)
Q_DECLARE_METATYPE(Answers)

// Where Wine cannot answer as Windows does, the layer's native calls answer as Microsoft documents
// that Windows and its file systems answer. Every photo here is read-only, as a camera marks the
// photos protected on it, and keeps that attribute when copied.
void TestPlatform::movesAsWindowsAnswers_data()
{
    using Way = Platform::MoveWay;
    using Names = QList<QByteArray>;
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<MoveResultOf>("move");
    QTest::addColumn<int>("error");
    QTest::addColumn<Platform::MoveWay>("way");
    QTest::addColumn<Names>("names"); // the photo's names afterwards, below the tree
    const MoveResultOf mover
        = [](const Platform::FolderHandle& folder, const QByteArray& from, const QByteArray& to) {
              return Platform::FileMover().move(folder, from, to);
          };
    const MoveResultOf link
        = byStep([](const Platform::FolderHandle& folder, const QByteArray& from,
                     const QByteArray& to) { return Platform::linkThenUnlink(folder, from, to, {}); },
            Way::LinkThenUnlink);
    QTest::newRow("read-only: renamed by handle")
        << Answers() << mover << 0 << Way::RenameNoReplace << Names { "photos/new.jpg" };
    QTest::newRow("read-only: linked, old name deleted (NTFS, Windows 10 1809 and later)")
        << Answers { ntfsDeletesReadOnlyNames } << link << 0 << Way::LinkThenUnlink
        << Names { "photos/new.jpg" };
    QTest::newRow("read-only: neither name deleted (Windows before 1809)")
        << Answers { deletesNoReadOnlyNames } << link << Platform::keptBothNames << Way::NotMoved
        << Names { "photos/new.jpg", "photos/old.jpg" };
    QTest::newRow("mapped file: neither name deleted")
        << Answers { SystemStandIn::refusesRename<MappedFile::setInformationFile> } << mover
        << Platform::keptBothNames << Way::NotMoved << Names { "photos/new.jpg", "photos/old.jpg" };
    QTest::newRow("cloud placeholder: no hard link, moved by path")
        << Answers { SystemStandIn::refusesRename<cloudRefusesHardLinks> } << mover << 0
        << Way::CheckThenRename << Names { "photos/new.jpg" };
    QTest::newRow("RootDirectory ignored: link reported, none made")
        << Answers { linksNowhere } << link << EIO << Way::NotMoved << Names { "photos/old.jpg" };
    // NTFS lists the file's names with their folders, so that the one made elsewhere is taken away.
    QTest::newRow("RootDirectory ignored: link made elsewhere, taken away") << Answers {
        .setInformation = linksElsewhere, .queryInformation = listsLinks, .createFile = opensElsewhereById
    } << link << EIO << Way::NotMoved << Names { "photos/old.jpg" };
    QTest::newRow("RootDirectory taken as the volume's root: the file comes back, the move fails")
        << Answers { renamesIntoRoot } << mover << EIO << Way::NotMoved << Names { "photos/old.jpg" };
    // [MS-FSCC] 2.4.22: a volume without file numbers answers 0; the name the handle reports tells.
    QTest::newRow("no file numbers: renamed by handle")
        << Answers { nullptr, 0, false, NoFileIds::queryInformationFile } << mover << 0
        << Way::RenameNoReplace << Names { "photos/new.jpg" };
    QTest::newRow("no file numbers, no rename nor link by handle: moved by path")
        << Answers { .setInformation = SystemStandIn::refusesRename<cloudRefusesHardLinks>,
               .queryInformation = NoFileIds::queryInformationFile }
        << mover << 0 << Way::CheckThenRename << Names { "photos/new.jpg" };
    QTest::newRow("no file numbers, RootDirectory taken as the volume's root: the file comes back")
        << Answers { renamesIntoRoot, 0, false, NoFileIds::queryInformationFile } << mover << EIO
        << Way::NotMoved << Names { "photos/old.jpg" };
    // ReFS ([MS-FSCC] 2.4.26 FileIdInformation: a 128-bit id unique on the volume): the other
    // program's file differs from the photo only in the upper half of its id, and is kept.
    QTest::newRow("refs: link reported, another program's file under its name: kept")
        << Answers { linkNameTakenByAnother, 0, false, ReFsDriver::queryInformationFile } << link << EIO
        << Way::NotMoved << Names { "photos/new.jpg", "photos/old.jpg" };
    QTest::newRow("RootDirectory taken as the volume's root, old name taken meanwhile: told where")
        << Answers { renamesIntoRootOldNameTaken } << mover << Platform::movedElsewhere << Way::NotMoved
        << Names { "elsewhere/new.jpg", "photos/old.jpg" };
    QTest::newRow("moved by path into another folder: told where")
        << Answers { .setInformation = SystemStandIn::refusesRename<cloudRefusesHardLinks>,
               .moveFileEx = movesByPathElsewhere }
        << mover << Platform::movedElsewhere << Way::NotMoved << Names { "elsewhere/new.jpg" };
    QTest::newRow("target folder held without write sharing: renamed within its folder")
        << Answers { IoManager::setInformationFile, 0, true } << mover << 0 << Way::RenameNoReplace
        << Names { "photos/new.jpg" };
    QTest::newRow("fat: target folder held without write sharing: renamed within its folder")
        << Answers { FatDriver::setInformationFile, 0, true } << mover << 0 << Way::RenameNoReplace
        << Names { "photos/new.jpg" };
    // The rename pass ends on ENODEV (the device or volume is gone) and ENOTCONN (the network
    // share is gone), not on the file.
    const auto answered = [](NTSTATUS status) { return Answers { answersStatus, status }; };
    QTest::newRow("volume gone: device not connected")
        << answered(Platform::Native::statusDeviceNotConnected) << mover << ENODEV << Way::NotMoved
        << Names { "photos/old.jpg" };
    QTest::newRow("volume gone: no such device") << answered(Platform::Native::statusNoSuchDevice) << mover
                                                 << ENODEV << Way::NotMoved << Names { "photos/old.jpg" };
    QTest::newRow("volume gone: dismounted") << answered(Platform::Native::statusVolumeDismounted) << mover
                                             << ENODEV << Way::NotMoved << Names { "photos/old.jpg" };
    // fastfat (verfysup.c, FatVerifyFcb): a card pulled out, and another put in its place.
    QTest::newRow("volume gone: card pulled out") << answered(Platform::Native::statusFileInvalid) << mover
                                                  << ENODEV << Way::NotMoved << Names { "photos/old.jpg" };
    QTest::newRow("volume gone: card swapped") << answered(Platform::Native::statusWrongVolume) << mover
                                               << ENODEV << Way::NotMoved << Names { "photos/old.jpg" };
    QTest::newRow("volume gone: network name deleted")
        << answered(Platform::Native::statusNetworkNameDeleted) << mover << ENOTCONN << Way::NotMoved
        << Names { "photos/old.jpg" };
    // Another program has deleted the file while holding it open: its name stays until that
    // program closes it, and every other call on it is answered STATUS_DELETE_PENDING.
    QTest::newRow("deleted by another program: the file is going")
        << answered(Platform::Native::statusDeletePending) << mover << Platform::deletePending
        << Way::NotMoved << Names { "photos/old.jpg" };
    // A cloud drive's placeholder that its provider is hydrating or syncing.
    QTest::newRow("cloud file in use") << answered(Platform::Native::statusCloudFileInUse) << mover << EBUSY
                                       << Way::NotMoved << Names { "photos/old.jpg" };
    // A cloud drive's placeholder while its sync program is not running, or after it ended
    // unexpectedly ([MS-ERREF] 2.3.1: "the cloud file provider is not running", "exited
    // unexpectedly"): neither is a way's refusal, and no errno says so.
    QTest::newRow("cloud provider not running")
        << answered(Platform::Native::statusCloudFileProviderNotRunning) << mover
        << Platform::cloudProviderNotRunning << Way::NotMoved << Names { "photos/old.jpg" };
    QTest::newRow("cloud provider ended")
        << answered(Platform::Native::statusCloudFileProviderTerminated) << mover
        << Platform::cloudProviderNotRunning << Way::NotMoved << Names { "photos/old.jpg" };
    // "Access to the cloud file is denied", and "the cloud operation is not supported on a read-only
    // volume": no permission, and a read-only volume, as for any file.
    QTest::newRow("cloud file: access denied")
        << answered(Platform::Native::statusCloudFileAccessDenied) << mover << EACCES << Way::NotMoved
        << Names { "photos/old.jpg" };
    QTest::newRow("cloud file: read-only volume")
        << answered(Platform::Native::statusCloudFileReadOnlyVolume) << mover << EROFS << Way::NotMoved
        << Names { "photos/old.jpg" };
    QTest::newRow("link refused for its RootDirectory: moved by path")
        << answered(Platform::Native::statusInvalidParameter) << mover << 0 << Way::CheckThenRename
        << Names { "photos/new.jpg" };
    QTest::newRow("volume gone while linking: device not connected")
        << answered(Platform::Native::statusDeviceNotConnected) << link << ENODEV << Way::NotMoved
        << Names { "photos/old.jpg" };
}

void TestPlatform::movesAsWindowsAnswers()
{
    QFETCH(Answers, answers);
    QFETCH(MoveResultOf, move);
    QFETCH(int, error);
    QFETCH(Platform::MoveWay, way);
    QFETCH(QList<QByteArray>, names);
    TestTree tree;
    tree.createDir("photos");
    tree.createDir("elsewhere");
    tree.createFile("photos/old.jpg", "photo");
    QVERIFY(SetFileAttributesW(
        TestSystem::nativePath(tree.path("photos/old.jpg")).c_str(), FILE_ATTRIBUTE_READONLY));
    const Platform::FolderHandle photos = Platform::openFolder(tree.path("photos"));
    const Platform::FolderHandle other = Platform::openFolder(tree.path("elsewhere"));
    elsewhere = reinterpret_cast<HANDLE>(other.native());
    const SystemStandIn::Restored restored;
    answeredStatus = answers.status;
    // Another program's handle of the folder: reading, and sharing reading and deletion only.
    const HANDLE holder = answers.folderHeld
        ? CreateFileW(TestSystem::nativePath(tree.path("photos")).c_str(), GENERIC_READ,
            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
        : nullptr;
    QVERIFY(holder != INVALID_HANDLE_VALUE);
    const struct Closed
    {
        HANDLE handle;
        ~Closed()
        {
            if (handle)
                CloseHandle(handle);
        }
    } closed { holder };
    if (answers.setInformation)
        Platform::Native::calls.setInformationFile = answers.setInformation;
    if (answers.queryInformation)
        Platform::Native::calls.queryInformationFile = answers.queryInformation;
    if (answers.moveFileEx)
        Platform::Native::calls.moveFileEx = answers.moveFileEx;
    if (answers.createFile)
        Platform::Native::calls.createFile = answers.createFile;
    const Platform::MoveResult result = move(photos, "old.jpg", "new.jpg");
    QCOMPARE(result.error, error);
    QCOMPARE(result.way, way);
    // A file left elsewhere is told where it is, or nothing where the system cannot say (Wine keeps
    // the name a handle was opened by when another handle moves the file); no other file is told.
    const QByteArray told = result.placedAt.endsWith("\\elsewhere\\new.jpg") ? "elsewhere" : result.placedAt;
    const bool elsewhere = error == Platform::movedElsewhere;
    QVERIFY2(told == (elsewhere ? "elsewhere" : "") || (elsewhere && told.isEmpty()), told.constData());
    const QMap<QByteArray, QByteArray> snapshot = tree.snapshot();
    QCOMPARE(snapshot.keys(), names);
    for (const QByteArray& name : names) {
        if (snapshot.value(name) != "photo")
            continue; // another program's file
        const DWORD attributes = GetFileAttributesW(TestSystem::nativePath(tree.path(name)).c_str());
        QVERIFY2(attributes & FILE_ATTRIBUTE_READONLY, name.constData());
    }
}

#endif

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
