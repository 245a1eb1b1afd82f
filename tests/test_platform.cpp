#include "platform/platform.h"
#include "test_support.h"

#include <QTest>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Move = std::function<int(const QByteArray&, const QByteArray&)>;

} // namespace

Q_DECLARE_METATYPE(Move)

class TestPlatform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moves_data();
    void movesFile();
    void movesFile_data() { moves_data(); }
    void neverReplacesExistingTarget();
    void neverReplacesExistingTarget_data() { moves_data(); }
    void missingSourceFails();
    void missingSourceFails_data() { moves_data(); }
    void movesNonUtf8NameAndLink();
    void movesNonUtf8NameAndLink_data() { moves_data(); }
    void fallsBackOnlyWhenTheFileSystemRefuses_data();
    void fallsBackOnlyWhenTheFileSystemRefuses();
    void listingReportsDirectoriesButNotLinksToThem();
    void firstMatchingEntry_data();
    void firstMatchingEntry();
};

void TestPlatform::moves_data()
{
    QTest::addColumn<Move>("move");
    QTest::newRow("chain") << Move(
        [](const QByteArray& from, const QByteArray& to) { return Platform::moveFileNoReplace(from, to); });
    QTest::newRow("rename no-replace") << Move(Platform::renameNoReplace);
    QTest::newRow("link then unlink") << Move(Platform::linkThenUnlink);
    QTest::newRow("check then rename") << Move(Platform::checkThenRename);
}

void TestPlatform::movesFile()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("old.txt", "content");
    QCOMPARE(move(tree.path("old.txt"), tree.path("new.txt")), 0);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "new.txt", "content" } }));
}

void TestPlatform::neverReplacesExistingTarget()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("a.txt", "first");
    tree.createFile("b.txt", "second");
    QCOMPARE(move(tree.path("a.txt"), tree.path("b.txt")), EEXIST);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "a.txt", "first" }, { "b.txt", "second" } }));
}

void TestPlatform::missingSourceFails()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("other", "x");
    QCOMPARE(move(tree.path("gone"), tree.path("new")), ENOENT);
    QCOMPARE(tree.snapshot(), (QMap<QByteArray, QByteArray> { { "other", "x" } }));
}

void TestPlatform::movesNonUtf8NameAndLink()
{
    QFETCH(Move, move);
    TestTree tree;
    tree.createFile("\xff\xfe.txt", "bytes");
    QCOMPARE(::symlink("\xff\xfe.txt", tree.path("link").constData()), 0);
    QCOMPARE(move(tree.path("\xff\xfe.txt"), tree.path("\xe9.md")), 0);
    QCOMPARE(move(tree.path("link"), tree.path("link2")), 0);
    // The link itself moves; it still points at the old name.
    QCOMPARE(tree.snapshot(),
        (QMap<QByteArray, QByteArray> { { "\xe9.md", "bytes" }, { "link2", "->\xff\xfe.txt" } }));
}

namespace {

// What each step of the chain answers, and which steps ran.
int stepAnswers[3];
QList<int> stepsRun;

template <int step> int recordingStep(const QByteArray&, const QByteArray&)
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
    QTest::newRow("moved at once") << QList<int> { 0, 0, 0 } << QList<int> { 0 } << 0;
    QTest::newRow("target exists: no other way is tried")
        << QList<int> { EEXIST, 0, 0 } << QList<int> { 0 } << EEXIST;
    QTest::newRow("missing source") << QList<int> { ENOENT, 0, 0 } << QList<int> { 0 } << ENOENT;
    QTest::newRow("flag refused: hard link") << QList<int> { EINVAL, 0, 0 } << QList<int> { 0, 1 } << 0;
    QTest::newRow("call missing: hard link") << QList<int> { ENOSYS, 0, 0 } << QList<int> { 0, 1 } << 0;
    QTest::newRow("flag unsupported: hard link") << QList<int> { ENOTSUP, 0, 0 } << QList<int> { 0, 1 } << 0;
    QTest::newRow("hard link finds the target")
        << QList<int> { EINVAL, EEXIST, 0 } << QList<int> { 0, 1 } << EEXIST;
    QTest::newRow("hard links refused: check and rename")
        << QList<int> { EINVAL, EPERM, 0 } << QList<int> { 0, 1, 2 } << 0;
    QTest::newRow("hard links unsupported: check and rename")
        << QList<int> { EINVAL, EOPNOTSUPP, EEXIST } << QList<int> { 0, 1, 2 } << EEXIST;
    QTest::newRow("read-only file system stops at once")
        << QList<int> { EROFS, 0, 0 } << QList<int> { 0 } << EROFS;
}

// No file system here refuses the no-replace flag or hard links, so the chain's choices are driven
// with steps that only answer as such a file system would.
void TestPlatform::fallsBackOnlyWhenTheFileSystemRefuses()
{
    QFETCH(QList<int>, answers);
    QFETCH(QList<int>, run);
    QFETCH(int, result);
    std::copy(answers.begin(), answers.end(), stepAnswers);
    stepsRun.clear();
    const Platform::MoveSteps steps { recordingStep<0>, recordingStep<1>, recordingStep<2> };
    QCOMPARE(Platform::moveFileNoReplace("from", "to", steps), result);
    QCOMPARE(stepsRun, run);
}

void TestPlatform::listingReportsDirectoriesButNotLinksToThem()
{
    TestTree tree;
    tree.createDir("dir");
    tree.createFile("file");
    QCOMPARE(::symlink("dir", tree.path("dirlink").constData()), 0);
    QMap<QByteArray, bool> seen;
    Platform::DirListing listing(tree.root());
    QVERIFY(listing.isOpen());
    Platform::DirEntry entry;
    while (listing.next(entry))
        seen.insert(entry.name.toByteArray(), entry.isDirectory);
    listing.close();
    QVERIFY(!listing.next(entry));
    const QMap<QByteArray, bool> expected
        = { { ".", true }, { "..", true }, { "dir", true }, { "file", false }, { "dirlink", false } };
    QCOMPARE(seen, expected);
    QVERIFY(!Platform::DirListing(tree.path("file")).isOpen());
    QVERIFY(!Platform::DirListing(tree.path("missing")).isOpen());
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
    QCOMPARE(Platform::firstMatchingEntry(tree.path(relative)), found);
    QCOMPARE(Platform::firstMatchingEntry("/"), QByteArray("/"));
    QCOMPARE(Platform::firstMatchingEntry(""), QByteArray());
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
