// The window's commands: search, preview, execute, stop and undo, on real folders.

#include "dialog/qt_message_boxes.h"
#include "form1_harness.h"
#include "mounted_volume.h"
#include "rename/move_overlap.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <csignal>
#endif

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Files = QMap<QByteArray, QByteArray>;

} // namespace

class TestForm1Commands final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
    void searchFilters_data();
    void searchFilters();
    void searchOfAVolumeThatStopsAnswering_data();
    void searchOfAVolumeThatStopsAnswering();
    void searchDisablesWindowWhileScanning_data();
    void searchDisablesWindowWhileScanning();
    void searchWhileHelpShownLeavesListCovered();
    void previewThenExecuteRenamesCheckedFilesOnly();
    void executeRenames_data();
    void executeRenames();
    void undoInALaterWindow_data();
    void undoInALaterWindow();
    void failedRenamesAreReportedOneByOne_data();
    void failedRenamesAreReportedOneByOne();
    void stoppingAnExecute_data();
    void stoppingAnExecute();
    void marksAreReadAndExecutesTakenBack();
    void failureBoxKeepsTheKeyboardAfterCancel();
};

void TestForm1Commands::searchFilters_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<QByteArray>>("found");

    QTest::newRow("suffix, any case") << QStringList() << QList<QByteArray> { "Notes.TXT", "sub/report.txt" };
    QTest::newRow("other suffix") << QStringList { u"type|Text2|.md"_s } << QList<QByteArray> { "report.md" };
    QTest::newRow("keyword") << QStringList { u"click|Option2"_s, u"type|Text3|REP"_s }
                             << QList<QByteArray> { "report.md", "sub/report.txt" };
    QTest::newRow("keyword box read only when selected") << QStringList { u"click|Option2"_s,
        u"type|Text3|notes"_s, u"click|Option1"_s } << QList<QByteArray> { "Notes.TXT", "sub/report.txt" };
}

void TestForm1Commands::searchFilters()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<QByteArray>, found);
    TestTree tree;
    tree.createDir("sub");
    tree.createFile("Notes.TXT");
    tree.createFile("report.md");
    tree.createFile("sub/report.txt");
    for (const QString& step : steps)
        perform(step);
    search(QFile::decodeName(tree.root()));

    QList<QByteArray> rows;
    for (int row = 0; row < fileList()->rowCount(); ++row) {
        QVERIFY(fileList()->isChecked(row));
        rows.append(tree.relative(fileOfRow(row)));
    }
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows, found);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: "_s + QString::number(found.size()));
}

// A search of a volume that stops answering for a while (an exFAT volume whose driver is stopped,
// as a share that stalls) keeps the window answering: the check of the path and every listing wait
// on threads of their own.
void TestForm1Commands::searchOfAVolumeThatStopsAnswering_data()
{
    QTest::addColumn<bool>("closedMeanwhile");
    QTest::newRow("waited for") << false;
    // Closed while the search waits: the window goes off the screen at once, and the search stops.
    QTest::newRow("the window closed meanwhile") << true;
}

void TestForm1Commands::searchOfAVolumeThatStopsAnswering()
{
#ifdef _WIN32
    QSKIP("stalls a FUSE driver, which Windows has not");
#else
    QFETCH(bool, closedMeanwhile);
    MountedVolume volume(u"exfat"_s);
    if (!volume.isMounted())
        QSKIP(qPrintable(volume.whyNot()));
    for (int i = 0; i < 3; ++i)
        QVERIFY(
            QFile(QFile::decodeName(volume.root()) + u"/photo%1.txt"_s.arg(i)).open(QIODevice::WriteOnly));
    const auto driver = static_cast<pid_t>(volume.driverProcess());
    QVERIFY(driver > 0 && ::kill(driver, SIGSTOP) == 0);
    // The driver goes on after a while, whatever the window does meanwhile.
    std::thread resume([driver] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::kill(driver, SIGCONT);
    });
    QElapsedTimer sinceEvents;
    qint64 longestGapMs = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, this,
        [&] { longestGapMs = std::max(longestGapMs, sinceEvents.restart()); });
    ticker.start();
    sinceEvents.start();
    bool hiddenAtOnce = false;
    if (closedMeanwhile) {
        QTimer::singleShot(300, this, [&] {
            QVERIFY(!m_window->isEnabled()); // still searching
            QVERIFY(m_window->close());
            hiddenAtOnce = !m_window->isVisible();
        });
    }
    search(QFile::decodeName(volume.root()));
    longestGapMs = std::max(longestGapMs, sinceEvents.elapsed());
    resume.join();
    if (closedMeanwhile) {
        QVERIFY(hiddenAtOnce);
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_window->isEnabled()); // the search has ended
    } else {
        QCOMPARE(fileList()->rowCount(), 3);
    }
    QVERIFY(m_messages.shown.isEmpty());
    QVERIFY2(longestGapMs < 250, qPrintable(u"events waited %1 ms"_s.arg(longestGapMs)));
#endif
}

void TestForm1Commands::searchDisablesWindowWhileScanning_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("to the end") << false;
    // Closing asks the search to stop at its next yield; the window closes once it has.
    QTest::newRow("window closed meanwhile") << true;
}

void TestForm1Commands::searchDisablesWindowWhileScanning()
{
    QFETCH(bool, closed);
    TestTree tree;
    for (int i = 0; i < 120; ++i)
        tree.createFile(QByteArray::number(i) + ".txt");
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto* searchButton = control(u"Command2"_s);
    searchButton->setFocus();

    // Runs from the events the scan lets through.
    bool ranDuringScan = false;
    bool enabledDuringScan = true;
    bool closedDuringScan = false;
    QTimer::singleShot(0, m_window.get(), [&] {
        ranDuringScan = true;
        enabledDuringScan = m_window->isEnabled();
        if (closed)
            closedDuringScan = m_window->close();
    });
    search(QFile::decodeName(tree.root()));

    QVERIFY(ranDuringScan);
    QVERIFY(!enabledDuringScan);
    QVERIFY(m_window->isEnabled());
    if (closed) {
        QVERIFY(closedDuringScan); // at once, though the walk had yet to stop
        QVERIFY(!m_window->isVisible());
        // Stopped at the first yield, 50 entries in, or before the walk began.
        QCOMPARE_LE(fileList()->rowCount(), 50);
        return;
    }
    QVERIFY(m_window->isVisible());
    QCOMPARE(fileList()->rowCount(), 120);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 120"_s);
    // The single controls come back as they were, and so does the focus.
    for (const QString& name : ruledBoxes)
        QVERIFY2(control(name)->isEnabled() == (name == u"Text2" || name == u"Combo1" || name == u"Text4"),
            qPrintable(name));
    QCOMPARE(QApplication::focusWidget(), searchButton);
}

void TestForm1Commands::searchWhileHelpShownLeavesListCovered()
{
    TestTree tree;
    tree.createFile("a.txt");
    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inWindow(control(u"Label2"_s)));
    control<QLabel>(u"Label6"_s)->setText(u"已完成 3 个文件修改!"_s);
    search(QFile::decodeName(tree.root()));

    QCOMPARE(fileList()->rowCount(), 1);
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 1"_s);
    QVERIFY(control(u"Text7"_s)->isVisible());
    QCOMPARE(control<QGroupBox>(u"Frame5"_s)->title(), u"帮助说明"_s);
    // A search leaves the completion text of the last execute.
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 3 个文件修改!"_s);
}

void TestForm1Commands::previewThenExecuteRenamesCheckedFilesOnly()
{
    TestTree tree;
    tree.createDir("data");
    tree.createDir("data/sub");
    tree.createFile("data/a.txt", "A");
    tree.createFile("data/sub/b.txt", "B");
    tree.createFile("data/sub/keep.txt", "K");
    tree.createFile("data/c.md", "C");
    const Files before = tree.snapshot();

    search(QFile::decodeName(tree.path("data")));
    QCOMPARE(control<QLabel>(u"Label3"_s)->text(), u"文件数量: 3"_s);
    FileListModel* list = fileList();
    QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    int keptRow = -1;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (fileOfRow(row).endsWith("keep.txt"))
            keptRow = row;
    }
    QVERIFY(keptRow >= 0);
    QVERIFY(
        list->setData(list->index(keptRow, FileListModel::PreviewColumn), Qt::Unchecked, Qt::CheckStateRole));

    perform(u"pick|3"_s);
    perform(u"type|Text4|7"_s);
    QTest::mouseClick(control(u"Command3"_s), Qt::LeftButton);
    for (int row = 0; row < list->rowCount(); ++row) {
        const QString preview = list->index(row, FileListModel::PreviewColumn).data().toString();
        QCOMPARE(preview, row == keptRow ? u" "_s : u"007.txt"_s);
    }
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), QString());

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(tree.snapshot(),
        (Files { { "data/007.txt", "A" }, { "data/sub/007.txt", "B" }, { "data/sub/keep.txt", "K" },
            { "data/c.md", "C" } }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 2 个文件修改!"_s);
    QVERIFY(m_messages.shown.isEmpty());
    // The rows still describe the names the files had when found.
    QCOMPARE(fileOfRow(keptRow), tree.path("data/sub/keep.txt"));
    QCOMPARE(list->index(keptRow, FileListModel::PreviewColumn).data().toString(), u" "_s);
}

void TestForm1Commands::executeRenames_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("newName"); // in each of the two folders

    QTest::newRow("defaults: the start text as it stands") << QStringList() << QByteArray("1.txt");
    QTest::newRow("start text kept by the plain pattern")
        << QStringList { u"type|Text4|001"_s } << QByteArray("001.txt");
    QTest::newRow("two digits") << QStringList { u"pick|2"_s, u"type|Text4|+5"_s } << QByteArray("05.txt");
    QTest::newRow("keyword") << QStringList { u"pick|4"_s, u"type|Text5|photo"_s } << QByteArray("photo.txt");
    QTest::newRow("keyword and number") << QStringList { u"pick|6"_s, u"type|Text5|  photo "_s,
        u"type|Text4|3"_s } << QByteArray("photo-03.txt");
    QTest::newRow("new suffix, spaces removed")
        << QStringList { u"click|Option4"_s, u"type|Text6|  .md "_s } << QByteArray("notes.md");
    QTest::newRow("new suffix without a dot")
        << QStringList { u"click|Option4"_s, u"type|Text6|md"_s } << QByteArray("notesmd");
}

void TestForm1Commands::executeRenames()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, newName);
    TestTree tree;
    tree.createDir("one");
    tree.createDir("two");
    tree.createFile("one/notes.txt", "1");
    tree.createFile("two/notes.txt", "2");

    search(QFile::decodeName(tree.root()));
    for (const QString& step : steps)
        perform(step);
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);

    QCOMPARE(tree.snapshot(), (Files { { "one/" + newName, "1" }, { "two/" + newName, "2" } }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 2 个文件修改!"_s);
    QVERIFY(m_messages.shown.isEmpty());
}

void TestForm1Commands::undoInALaterWindow_data()
{
    QTest::addColumn<bool>("cutOff"); // the first window's program was killed before the execute ended
    QTest::newRow("the window closed") << false;
    QTest::newRow("the program killed mid-execute") << true;
}

// An execute in one window, which then closes (or whose program is killed, its record left
// unfinished), and a window started later over the same state folder: it tells of a cut-off execute
// once, and its Ctrl+Z takes the execute back.
void TestForm1Commands::undoInALaterWindow()
{
    QFETCH(bool, cutOff);
    TestTree tree;
    tree.createFile("a.txt", "a");
    tree.createFile("b.txt", "b");
    const Files before = tree.snapshot();
    QTemporaryDir state;
    const QByteArray stateFolder = QFile::encodeName(state.path());
    m_window = std::make_unique<Form1>(m_messages, m_chooser, stateFolder);
    m_window->show();
    search(QFile::decodeName(tree.root()));
    perform(u"click|Option4"_s);
    perform(u"type|Text6|.md"_s);
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(tree.snapshot(), (Files { { "a.md", "a" }, { "b.md", "b" } }));
    m_window.reset();
    if (cutOff) {
        // Without its last entry, which marks it complete, as a killed program leaves it.
        const QStringList records = QDir(state.path()).entryList({ u"*.record"_s }, QDir::Files);
        QCOMPARE(records.size(), 1);
        QFile record(state.filePath(records.first()));
        QVERIFY(record.open(QIODevice::ReadWrite) && record.resize(record.size() - 9));
    }

    m_window = std::make_unique<Form1>(m_messages, m_chooser, stateFolder);
    m_window->show();
    m_window->takeRecordsLeft();
    QCoreApplication::processEvents(); // the box comes over the window once events go through
    const QString told
        = u"上次在“%1”中的执行被中断，磁盘上已有 2 个文件改了名。按 Ctrl+Z 可以把它们改回原名。"_s.arg(
            QFile::decodeName(tree.root() + Platform::Separator));
    QCOMPARE(m_messages.shown.size(), cutOff ? 1 : 0);
    if (cutOff)
        QCOMPARE(m_messages.shown.first().text, told);
    m_window->undoLastExecute();
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已撤销 2 个文件修改!"_s);
    QVERIFY(QDir(state.path()).entryList({ u"*.record"_s }, QDir::Files).isEmpty());
}

void TestForm1Commands::failedRenamesAreReportedOneByOne_data()
{
    // Each box shows over the progress, which comes with the first box if not before, so that the
    // progress's cancel is within reach from the first failure on.
    QTest::addColumn<bool>("longExecute");
    QTest::newRow("quick execute: the progress comes with the first box") << false;
    QTest::newRow("long execute: the progress is up before") << true;
}

void TestForm1Commands::failedRenamesAreReportedOneByOne()
{
    QFETCH(bool, longExecute);
    if (longExecute)
        m_window->setProgressDelay(0ms);
    TestTree tree;
    tree.createFile("x.txt", "x");
    tree.createFile("y.txt", "y");
    tree.createFile("z.txt", "z");
    search(QFile::decodeName(tree.root()));
    QCOMPARE(fileList()->rowCount(), 3);
    QStringList under; // what shows under each box
    m_messages.whileShown = [&] {
        QVERIFY(!m_window->isEnabled());
        under.append(progressShown());
    };
    const auto progressAt
        = [](int done) { return u"批量文件重命名 | 正在修改文件: %1 / 3 | 取消 | %1 of 3"_s.arg(done); };

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    // The first row takes the name; the others find it taken.
    const QByteArray first = tree.relative(fileOfRow(0));
    Files expected { { "x.txt", "x" }, { "y.txt", "y" }, { "z.txt", "z" } };
    expected.insert("1.txt", expected.take(first));
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(m_messages.shown.size(), 2);
    for (int row = 1; row < 3; ++row) {
        QCOMPARE(m_messages.shown[row - 1].title, u"ERROR"_s);
        QCOMPARE(
            m_messages.shown[row - 1].text, u" 修改失败！项目地址: "_s + QFile::decodeName(fileOfRow(row)));
    }
    QCOMPARE(under, (QStringList { progressAt(2), progressAt(3) }));
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 1 个文件修改!"_s);
    QVERIFY(!progressDialog());
    QVERIFY(m_window->isEnabled());

    // Without a new search every row still names its old path, so every move fails.
    m_messages.shown.clear();
    under.clear();
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(m_messages.shown.size(), 3);
    QCOMPARE(under, (QStringList { progressAt(1), progressAt(2), progressAt(3) }));
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 0 个文件修改!"_s);
}

void TestForm1Commands::stoppingAnExecute_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel button") << u"cancel"_s;
    QTest::newRow("Escape") << u"escape"_s;
    QTest::newRow("closing the window") << u"close"_s;
}

// A long execute stopped mid-pass. The box of the eleventh row, whose new name is taken, is where the
// test gets in (a recording box, unlike a real one, leaves the dialog free): the ten files before
// stay renamed, and so does each of the moves under way on a slow volume, which its mark tells
// without another box; the rest keep their names, and the count says how many were renamed.
void TestForm1Commands::stoppingAnExecute()
{
    QFETCH(QString, how);
    m_window->setProgressDelay(0ms);
    TestTree tree;
    for (int i = 0; i < 20; ++i)
        tree.createFile("f" + QByteArray::number(i) + ".txt", QByteArray::number(i));
    search(QFile::decodeName(tree.root()));
    QCOMPARE(fileList()->rowCount(), 20);
    constexpr int stopRow = 10;
    QByteArray taken = fileList()->name(stopRow);
    taken.replace(".txt", ".md");
    tree.createFile(taken, "taken");
    // A row the stopped pass does not reach keeps no mark: nothing asks the disk about it.
    constexpr int unreachedRow = stopRow + movesAtOnce;
    QByteArray alsoTaken = fileList()->name(unreachedRow);
    alsoTaken.replace(".txt", ".md");
    tree.createFile(alsoTaken, "taken");
    const Files before = tree.snapshot();

    m_messages.whileShown = [&] {
        QProgressDialog* dialog = progressDialog();
        QVERIFY(dialog && dialog->isVisible());
        if (how == u"cancel")
            QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        else if (how == u"escape")
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        else {
            // Off the screen at once, though the pass has yet to stop.
            QVERIFY(m_window->close());
            QVERIFY(!m_window->isVisible());
        }
    };
    perform(u"click|Option4"_s);
    perform(u"type|Text6|.md"_s);
    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);

    Files expected = before;
    int renamed = 0;
    for (int row = 0; row < fileList()->rowCount(); ++row) {
        if (fileList()->mark(row) != RowMark::Renamed)
            continue;
        QCOMPARE_LT(row, stopRow + movesAtOnce);
        ++renamed;
        const QByteArray name = fileList()->name(row);
        expected.insert(QByteArray(name).replace(".txt", ".md"), expected.take(name));
    }
    QCOMPARE_GE(renamed, stopRow);
    QCOMPARE(tree.snapshot(), expected);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已完成 %1 个文件修改!"_s.arg(renamed));
    QVERIFY(!progressDialog());
    const QModelIndex unreached = fileList()->index(unreachedRow, FileListModel::PreviewColumn);
    QCOMPARE(unreached.data(Qt::AccessibleDescriptionRole).toString(), QString());
    QCOMPARE(m_window->isVisible(), how != u"close");
}

// A preview marks the row that would fail, a screen reader reads why, the execute marks what it
// did, and Ctrl+Z outside a text box takes the execute back.
void TestForm1Commands::marksAreReadAndExecutesTakenBack()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    TestTree tree;
    tree.createFile("a.txt", "a");
    tree.createFile("b.txt", "b");
    tree.createFile("b.md", "taken");
    const Files before = tree.snapshot();
    search(QFile::decodeName(tree.root()));
    perform(u"click|Option4"_s);
    perform(u"type|Text6|.md"_s);
    QTest::mouseClick(control(u"Command3"_s), Qt::LeftButton);

    const int a = fileOfRow(0).endsWith("a.txt") ? 0 : 1;
    const int b = 1 - a;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(control(u"ListView1"_s));
    QVERIFY(table && table->tableInterface());
    const auto readOut = [table](int row) {
        return table->tableInterface()
            ->cellAt(row, FileListModel::PreviewColumn)
            ->text(QAccessible::Description);
    };
    QCOMPARE(readOut(b), u"目标已存在"_s);
    QCOMPARE(readOut(a), QString());
    QAbstractItemModel* shown = shownList();
    QVERIFY(!shown->index(b, FileListModel::PreviewColumn).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(shown->index(a, FileListModel::PreviewColumn).data(Qt::DecorationRole).isNull());
    QCOMPARE(tree.snapshot(), before);

    QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(readOut(a), u"已修改"_s);
    QCOMPARE(readOut(b), u"修改失败：目标已存在"_s);
    const Files renamed = tree.snapshot();
    QCOMPARE(renamed.value("a.md"), QByteArray("a"));

    // In a text box Ctrl+Z takes back typing, not the execute.
    auto* suffixBox = control<QLineEdit>(u"Text6"_s);
    suffixBox->setFocus();
    QTest::keyClick(suffixBox, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE_NE(suffixBox->text(), u".md"_s);
    QCOMPARE(tree.snapshot(), renamed);

    QAction* undo = nullptr;
    for (QAction* action : control(u"ListView1"_s)->actions()) {
        if (action->text() == u"撤销上次执行")
            undo = action;
    }
    QVERIFY(undo && undo->isEnabled());
    control(u"ListView1"_s)->setFocus();
    QTest::keyClick(control(u"ListView1"_s), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(control<QLabel>(u"Label6"_s)->text(), u"已撤销 1 个文件修改!"_s);
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(readOut(a), QString());
    // Nothing is left to take back.
    QVERIFY(!undo->isEnabled());
}

QTEST_MAIN(TestForm1Commands)
// A real box, over the progress that came with it, while the user clicks the progress's 取消: the
// dialog goes, and the box keeps the keyboard, so that Return answers it; the execute stops there.
void TestForm1Commands::failureBoxKeepsTheKeyboardAfterCancel()
{
    QtMessageBoxes boxes;
    Form1 window(boxes, m_chooser);
    boxes.setOwner(&window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    TestTree tree;
    for (int i = 0; i < 5; ++i) {
        tree.createFile("f" + QByteArray::number(i) + ".txt");
        tree.createFile("f" + QByteArray::number(i) + ".md");
    }
    const Files before = tree.snapshot();
    window.findChild<QLineEdit*>(u"Text1"_s)->setText(QFile::decodeName(tree.root()));
    QTest::mouseClick(window.findChild<QPushButton*>(u"Command2"_s), Qt::LeftButton);
    window.findChild<QRadioButton*>(u"Option4"_s)->setChecked(true);
    window.findChild<QLineEdit*>(u"Text6"_s)->setText(u".md"_s);

    const auto shownBox = [&window]() -> QMessageBox* {
        for (QMessageBox* box : window.findChildren<QMessageBox*>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    };
    bool answeredByKey = false;
    // Looked for as events go through, and acted on from within the box's own loop: waiting for it
    // from within the pass's events would hold the pass that is to show it.
    QTimer lookForBox;
    lookForBox.setInterval(10);
    connect(&lookForBox, &QTimer::timeout, this, [&] {
        QMessageBox* box = shownBox();
        if (!box)
            return;
        lookForBox.stop();
        // Whatever fails below, the box is answered, so that the execute ends.
        const auto answerAnyway = qScopeGuard([&] {
            if (QMessageBox* box = shownBox())
                box->button(QMessageBox::Ok)->click();
        });
        QProgressDialog* dialog = window.findChild<QProgressDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        // A click on the dialog makes it the active window first, as a window manager does.
        dialog->activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), dialog->windowHandle());
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_COMPARE(QGuiApplication::focusWindow(), box->windowHandle());
        QVERIFY(box->isAncestorOf(QApplication::focusWidget()));
        answeredByKey = true;
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    });
    lookForBox.start();
    QTest::mouseClick(window.findChild<QPushButton*>(u"Command4"_s), Qt::LeftButton);

    QVERIFY(answeredByKey);
    QVERIFY(!shownBox()); // no box after the one answered: the execute stopped
    QCOMPARE(tree.snapshot(), before);
    QCOMPARE(window.findChild<QLabel*>(u"Label6"_s)->text(), u"已完成 0 个文件修改!"_s);
    QVERIFY(window.isEnabled());
}

#include "test_form1_commands.moc"
