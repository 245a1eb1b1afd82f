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
    void listingReportsDirectoriesButNotLinksToThem();
    void firstMatchingEntry_data();
    void firstMatchingEntry();
};

void TestPlatform::moves_data()
{
    QTest::addColumn<Move>("move");
    QTest::newRow("chain") << Move(Platform::moveFileNoReplace);
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
