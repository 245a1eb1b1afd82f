#include "dialog/browse_for_folder.h"
#include "dialog/qt_folder_chooser.h"
#include "dialog/qt_message_boxes.h"
#include "runner/runner.h"
#include "test_support.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// The real modal dialogs, answered from a timer once they are up.
class TestDialog final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void messageBoxHasTitleTextAndOneOkButton_data();
    void messageBoxHasTitleTextAndOneOkButton();
    void folderChooser_data();
    void folderChooser();

private:
    QWidget* m_owner = nullptr;
};

void TestDialog::init()
{
    m_owner = new QWidget;
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_owner));
}

void TestDialog::cleanup()
{
    delete m_owner;
}

void TestDialog::messageBoxHasTitleTextAndOneOkButton_data()
{
    QTest::addColumn<bool>("overDialog"); // a modal dialog of the window is up, as a rename's progress
    QTest::newRow("over the window") << false;
    QTest::newRow("over a dialog up over the window") << true;
}

void TestDialog::messageBoxHasTitleTextAndOneOkButton()
{
    QFETCH(bool, overDialog);
    QtMessageBoxes boxes;
    boxes.setOwner(m_owner);
    QDialog dialog(m_owner);
    dialog.setWindowModality(Qt::WindowModal);
    auto* cancel = new QPushButton(u"取消"_s, &dialog);
    bool cancelled = false;
    connect(cancel, &QPushButton::clicked, this, [&cancelled] { cancelled = true; });
    if (overDialog) {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    }
    QWidget* const expectedParent = overDialog ? &dialog : m_owner;
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(expectedParent->findChild<QMessageBox*>());
        auto* box = expectedParent->findChild<QMessageBox*>();
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), u"ERROR"_s);
        QCOMPARE(box->text(), u"请选择路径！"_s);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButton(box->buttons().constFirst()), QMessageBox::Ok);
        // Over the window the box blocks it; over a dialog (a rename's progress) the dialog's own
        // cancel still takes a click while the box waits.
        QCOMPARE(box->isModal(), !overDialog);
        if (overDialog) {
            QTest::mouseClick(cancel, Qt::LeftButton);
            QVERIFY(cancelled);
        }
        answered = true;
        box->buttons().constFirst()->click();
    });
    // The caller holds what it does, events going through, until the box is closed.
    Runner runner;
    runner.hold(
        [&](std::function<void()> closed) { boxes.open(u"ERROR"_s, u"请选择路径！"_s, std::move(closed)); });
    QVERIFY(answered);
}

void TestDialog::folderChooser_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("cancelled gives nothing") << false;
    QTest::newRow("chosen folder gives its path") << true;
}

void TestDialog::folderChooser()
{
    QFETCH(bool, accept);
    TestTree tree;
    tree.createDir("photos");
    const QString chosen = QFile::decodeName(tree.path("photos"));
    QtFolderChooser chooser;
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QCOMPARE(dialog->windowTitle(), u"请选择文件夹"_s);
        QCOMPARE(dialog->parentWidget(), m_owner);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        answered = true;
        if (accept) {
            dialog->setDirectory(chosen);
            dialog->selectFile(chosen);
            static_cast<QDialog*>(dialog)->accept();
        } else {
            dialog->reject();
        }
    });
    const QString path = Dialog::BrowseForFolder(m_owner, u"请选择文件夹"_s, chooser);
    QVERIFY(answered);
    QCOMPARE(path, accept ? chosen : QString());
}

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
