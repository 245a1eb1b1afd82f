// Which typed paths a search takes, and what it finds in them.

#include "form1_harness.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString refusedPathText = u"请选择路径！"_s;

} // namespace

class TestSearchPath final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
    void pathCheck_data();
    void pathCheck();
};

void TestSearchPath::pathCheck_data()
{
    // "<root>" stands for the temporary folder as the system writes it, "<root/>" for the same with
    // '/', "<unc>" for its UNC form, "<long>" for a folder path of over 260 characters below it.
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("rows"); // rows found when searched; -1: not searched

    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("missing folder") << u"<root>/missing"_s << false << 0;
    QTest::newRow("hidden folder") << u"<root>/.hidden"_s << false << 0;
    QTest::newRow("hidden folder, trailing separator") << u"<root>/.hidden/"_s << false << 0;
    QTest::newRow("wildcard matching nothing") << u"<root>/zz*"_s << false << 0;
    QTest::newRow("folder") << u"<root>/data"_s << true << 2;
    QTest::newRow("folder, trailing separator") << u"<root>/data/"_s << true << 2;
    QTest::newRow("one-character folder name") << u"<root>/a"_s << true << 1;
    QTest::newRow("existing file lists nothing") << u"<root>/data/one.txt"_s << true << 0;
    QTest::newRow("wildcard matching a folder lists nothing") << u"<root>/da?a"_s << true << 0;
    QTest::newRow("path over 260 characters") << u"<root>/<long>"_s << true << 1;
    QTest::newRow("root folder") << QDir::toNativeSeparators(QDir::rootPath()) << true << -1;
#ifdef _WIN32
    // Windows takes both separators, in any mix, and paths in their UNC and long forms.
    QTest::newRow("backslashes") << u"<root>\\data\\"_s << true << 2;
    QTest::newRow("forward slashes") << u"<root/>/data/"_s << true << 2;
    QTest::newRow("a leading dot alone hides nothing") << u"<root>\\.dotted"_s << true << 0;
    QTest::newRow("long form") << u"\\\\?\\<root>\\data"_s << true << 2;
    QTest::newRow("long form, over 260 characters") << u"\\\\?\\<root>\\<long>"_s << true << 1;
    QTest::newRow("UNC path") << u"<unc>\\data"_s << true << 2;
    QTest::newRow("UNC path, forward slashes") << u"<unc>/data/sub"_s << true << 1;
    QTest::newRow("UNC long form") << u"\\\\?\\UNC\\<unc>\\data"_s << true << 2;
#endif
}

void TestSearchPath::pathCheck()
{
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    QFETCH(int, rows);
    TestTree tree;
    tree.createDir("data");
    tree.createDir("data/sub");
    tree.createDir("a");
    tree.createDir(".hidden");
    tree.createFile("data/one.txt");
    tree.createFile("data/sub/two.txt");
    tree.createFile("a/x.txt");
    tree.createFile(".hidden/h.txt");
    const QByteArray longName(100, 'l');
    const QByteArray longPath = longName + '/' + longName + '/' + longName;
    tree.createDir(longName);
    tree.createDir(longName + '/' + longName);
    tree.createDir(longPath);
    tree.createFile(longPath + "/deep.txt");
#ifdef _WIN32
    // Windows hides by an attribute, not by a leading dot.
    tree.makeHidden(".hidden");
    tree.createDir(".dotted");
    const QString unc = QString::fromUtf8(TestSystem::uncForm(tree.root()));
    if (path.contains(u"<unc>"_s) && !QFileInfo(unc).isDir())
        QSKIP("the administrative share \\\\localhost\\C$ is not reachable here");
    // The long form names the share without its leading separators.
    path.replace(u"UNC\\<unc>"_s, u"UNC"_s + unc.mid(1)).replace(u"<unc>"_s, unc);
#endif
    path.replace(u"<long>"_s, QString::fromUtf8(tree.path(longPath).mid(tree.root().size() + 1)))
        .replace(u"<root/>"_s, QDir::fromNativeSeparators(QString::fromUtf8(tree.root())))
        .replace(u"<root>"_s, QString::fromUtf8(tree.root()));

    QCOMPARE(RenameSession::acceptsSearchPath(path), accepted);
    if (rows < 0)
        return; // the whole file system is not searched

    search(path);
    auto* count = control<QLabel>(u"Label3"_s);
    if (accepted) {
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(fileList()->rowCount(), rows);
        QCOMPARE(count->text(), u"文件数量: "_s + QString::number(rows));
    } else {
        QCOMPARE(m_messages.shown.size(), 1);
        QCOMPARE(m_messages.shown[0].title, u"ERROR"_s);
        QCOMPARE(m_messages.shown[0].text, refusedPathText);
        QCOMPARE(count->text(), QString());
    }
    QVERIFY(m_window->isEnabled());
}

QTEST_MAIN(TestSearchPath)
#include "test_search_path.moc"
