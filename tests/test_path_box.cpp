// The path box, filled by the folder chooser and by drops.

#include "form1_harness.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestPathBox final : public Form1Harness
{
    Q_OBJECT

private Q_SLOTS:
    void browse_data();
    void browse();
    void dropOnPathBox_data();
    void dropOnPathBox();
};

void TestPathBox::browse_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("cancelled empties the path") << QString();
    QTest::newRow("chosen folder fills the path") << u"/home/user/photos"_s;
}

void TestPathBox::browse()
{
    QFETCH(QString, answer);
    control<QLineEdit>(u"Text1"_s)->setText(u"/typed/before"_s);
    m_chooser.nextAnswer = answer;
    QTest::mouseClick(control(u"Command1"_s), Qt::LeftButton);
    // Shown the way the system writes paths.
    QCOMPARE(control<QLineEdit>(u"Text1"_s)->text(), QDir::toNativeSeparators(answer));
    QCOMPARE(m_chooser.asked.size(), 1);
    QCOMPARE(m_chooser.asked[0].owner, m_window.get());
    QCOMPARE(m_chooser.asked[0].title, u"请选择文件夹"_s);
}

void TestPathBox::dropOnPathBox_data()
{
    QTest::addColumn<QByteArray>("uriList"); // "<root>" stands for the temporary folder; empty: none
    QTest::addColumn<QString>("text"); // the drag's plain text; null: none
    QTest::addColumn<QString>("pathBox"); // after the drop on "/typed/before"
    QTest::addColumn<Qt::DropAction>("taken"); // the drag proposes a move

    const QByteArray photos = "file://<root>/%E5%81%87%E6%9C%9F%20photos";
    QTest::newRow("folder: its local path")
        << photos + "\r\n"
        << u"file://<root>/假期 photos"_s << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("file: the path of its folder") << photos + "/a.jpg\r\n"
                                                  << QString() << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("several: the first one") << photos + "\r\nfile://<root>/-dash\r\n"
                                            << QString() << u"<root>/假期 photos"_s << Qt::CopyAction;
    QTest::newRow("plain text: inserted where dropped")
        << QByteArray() << u"abc"_s << u"/typed/beforeabc"_s << Qt::MoveAction;
    QTest::newRow("web address: its text inserted")
        << QByteArray("https://example.org/photos\r\n") << u"https://example.org/photos"_s
        << u"/typed/beforehttps://example.org/photos"_s << Qt::MoveAction;
}

void TestPathBox::dropOnPathBox()
{
    QFETCH(QByteArray, uriList);
    QFETCH(QString, text);
    QFETCH(QString, pathBox);
    QFETCH(Qt::DropAction, taken);
    TestTree tree;
    tree.createDir("假期 photos");
    tree.createDir("-dash");
    tree.createFile("假期 photos/a.jpg");
    const QString root = QFile::decodeName(tree.root());
    // In a URL, "/C:/..." on Windows.
    const QString urlRoot = QUrl::fromLocalFile(QDir::fromNativeSeparators(root)).path();

    QMimeData dragged;
    if (!uriList.isEmpty())
        dragged.setData(u"text/uri-list"_s, uriList.replace("<root>", QUrl::toPercentEncoding(urlRoot, "/")));
    if (!text.isNull())
        dragged.setText(text.replace(u"<root>"_s, urlRoot));
    auto* box = control<QLineEdit>(u"Text1"_s);
    box->setText(u"/typed/before"_s);
    // Past the end of the text; Shift makes the drag propose a move, as a file manager does with it.
    const QPoint end(box->width() - 4, box->height() / 2);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(end, offered, &dragged, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(box, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(end, offered, &dragged, Qt::LeftButton, Qt::ShiftModifier);
    QCOMPARE(drop.proposedAction(), Qt::MoveAction);
    QApplication::sendEvent(box, &drop);

    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), taken);
    // A dropped folder is shown the way the system writes paths; dropped text stays as it is.
    if (pathBox.contains(u"<root>"_s))
        pathBox = QDir::toNativeSeparators(pathBox.replace(u"<root>"_s, root));
    QCOMPARE(box->text(), pathBox);
    box->undo();
    QCOMPARE(box->text(), u"/typed/before"_s);
}

QTEST_MAIN(TestPathBox)
#include "test_path_box.moc"
