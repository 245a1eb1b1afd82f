#pragma once

// The main window opened for a test, with recorders in place of its dialogs, and the steps the tests
// drive it by.

#include "dialog/folder_chooser.h"
#include "file_list/file_list_model.h"
#include "test_support.h"
#include "window/form1.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include <memory>

// Answers the folder chooser with a prepared path and records how it was asked.
class RecordingFolderChooser final : public FolderChooser
{
public:
    QString chooseFolder(QWidget* owner, const QString& title) override
    {
        asked.append({ owner, title });
        return nextAnswer;
    }

    struct Asked
    {
        QWidget* owner = nullptr;
        QString title;
    };
    QList<Asked> asked;
    QString nextAnswer;
};

inline const QStringList allControls = { QStringLiteral("Frame1"), QStringLiteral("Frame3"),
    QStringLiteral("Label1"), QStringLiteral("Text1"), QStringLiteral("Command1"), QStringLiteral("Option1"),
    QStringLiteral("Text2"), QStringLiteral("Option2"), QStringLiteral("Text3"), QStringLiteral("Command2"),
    QStringLiteral("Frame2"), QStringLiteral("Option3"), QStringLiteral("Combo1"), QStringLiteral("Label5"),
    QStringLiteral("Text4"), QStringLiteral("Label4"), QStringLiteral("Text5"), QStringLiteral("Option4"),
    QStringLiteral("Text6"), QStringLiteral("Command3"), QStringLiteral("Label2"), QStringLiteral("Command4"),
    QStringLiteral("Frame5"), QStringLiteral("Text7"), QStringLiteral("ListView1"), QStringLiteral("Label7"),
    QStringLiteral("Label3"), QStringLiteral("Label6"), QStringLiteral("Command5") };

// The boxes whose enabled state the option buttons and the pattern box decide.
inline const QStringList ruledBoxes = { QStringLiteral("Text2"), QStringLiteral("Text3"),
    QStringLiteral("Combo1"), QStringLiteral("Text4"), QStringLiteral("Text5"), QStringLiteral("Text6") };

// The base of each window test class: QTest runs init() and cleanup() around every test function
// of the class, so each starts from the window as loaded.
class Form1Harness : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_messages.shown.clear();
        m_messages.whileShown = nullptr;
        m_chooser = RecordingFolderChooser();
        m_window = std::make_unique<Form1>(m_messages, m_chooser);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() { m_window.reset(); }

protected:
    template <typename T = QWidget> T* control(const QString& name) const
    {
        return m_window->findChild<T*>(name);
    }

    // The list as the view shows it, marks drawn.
    QAbstractItemModel* shownList() const { return control<QTreeView>(QStringLiteral("ListView1"))->model(); }
    FileListModel* fileList() const
    {
        auto* shown = qobject_cast<QAbstractProxyModel*>(shownList());
        return shown ? qobject_cast<FileListModel*>(shown->sourceModel()) : nullptr;
    }

    QByteArray fileOfRow(int row) const { return fileList()->fullPath(row); }

    QPoint inWindow(QWidget* widget) const { return widget->mapTo(m_window.get(), widget->rect().center()); }

    QProgressDialog* progressDialog() const { return m_window->findChild<QProgressDialog*>(); }

    // The progress dialog as it shows over the window: title, label, button and bar; "none" when no
    // progress dialog is up.
    QString progressShown() const
    {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return QStringLiteral("none");
        auto* bar = dialog->findChild<QProgressBar*>();
        return QStringList { dialog->windowTitle(), dialog->labelText(),
            dialog->findChild<QPushButton*>()->text(),
            QStringLiteral("%1 of %2").arg(bar->value()).arg(bar->maximum()) }
            .join(QStringLiteral(" | "));
    }

    // One user action, written as "verb|control|text":
    //   set|OptionN   the program selects the option button
    //   click|Name    a mouse click on the control
    //   pick|N        the program selects pattern N
    //   down|Combo1   the Down key on the pattern box
    //   type|TextN|t  replaces the box's text by typing t
    void perform(const QString& step)
    {
        const QStringList parts = step.split(u'|');
        const QString& verb = parts[0];
        if (verb == u"set") {
            control<QRadioButton>(parts[1])->setChecked(true);
        } else if (verb == u"click") {
            QTest::mouseClick(control(parts[1]), Qt::LeftButton);
        } else if (verb == u"pick") {
            control<QComboBox>(QStringLiteral("Combo1"))->setCurrentIndex(parts[1].toInt());
        } else if (verb == u"down") {
            QTest::keyClick(control(parts[1]), Qt::Key_Down);
        } else if (verb == u"type") {
            auto* box = control<QLineEdit>(parts[1]);
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, parts[2]);
            QCOMPARE(box->text(), parts[2]);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }

    void search(const QString& path)
    {
        control<QLineEdit>(QStringLiteral("Text1"))->setText(path);
        QTest::mouseClick(control(QStringLiteral("Command2")), Qt::LeftButton);
    }

    RecordingMessageBoxes m_messages;
    RecordingFolderChooser m_chooser;
    std::unique_ptr<Form1> m_window;
};
