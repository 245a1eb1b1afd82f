#pragma once

#include "rename/rename_session.h"

#include <QWidget>

#include <chrono>
#include <functional>

class ClickableLabel;
class FolderChooser;
class MessageBoxes;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeView;
class Runner;
class StatusAnnouncer;
struct FileFailure;

// The program's only window: search settings and rename settings on the left, the file list (or
// the help text laid over it) on the right, status labels and Exit below. Every control carries
// its name as its object name. Controls sit at fixed positions; nothing follows the window's size.
class Form1 final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    // `messages` and `folderChooser` must outlive the window. Executes are kept on record in
    // `recordFolder`, so that they can be taken back after the window has closed; with none, only
    // while it is open.
    Form1(MessageBoxes& messages, FolderChooser& folderChooser, const QByteArray& recordFolder = {},
        QWidget* parent = nullptr);

    // Puts `path` in the path box, as the folder the program was opened with; nothing else changes and
    // no search starts.
    void setPath(const QString& path);

    // Previews the new names of the checked rows under the current rule, marking the rows that would
    // fail; with `sMode` also renames the files and shows the progress of a long execute. The
    // window takes no input meanwhile.
    void SetFileName(bool sMode);

    // Takes back the most recent execute not yet taken back, as far as its files are still where it
    // left them; the window's Ctrl+Z (outside the text boxes, which undo their own typing) and the
    // list's context menu. The executes are kept on record, this window's with those it took over.
    void undoLastExecute();

    // Takes over the executes that earlier windows left on record and no running window holds, so
    // that the undo reaches them too; a box tells of an execute that was cut off, and of records that
    // could not be read, once the window shows. Called before the window is shown: nothing takes
    // input meanwhile, and the window's first focus is left as it is.
    void takeRecordsLeft();

    // How long an execute runs before its progress shows: a second, unless a test wants a long
    // execute without waiting for one.
    void setProgressDelay(std::chrono::milliseconds delay) { m_progressDelay = delay; }

    // The text of the help box, each of its lines ended by "\r\n".
    static QString helpText();

protected:
    // Closing while a command runs (a search, or files being renamed) closes the window at once and
    // stops the command after the folder or the move in progress.
    void closeEvent(QCloseEvent* event) override;
    // Tells what takeRecordsLeft() found, over the window once it is up.
    void showEvent(QShowEvent* event) override;

private:
    // Tells, once for the window, that its executes cannot be kept on record, and why.
    void tellRecordNotKept(int error);
    void tellRecordsLeft();

    void createControls();
    void connectReactions();
    void orderTabStops();

    // Reactions to the option buttons and the pattern box; each runs also when the program itself
    // makes the choice.
    void filterBySuffixChosen(bool selected);
    void filterByKeywordChosen(bool selected);
    void ruleModeChosen(bool selected);
    void suffixModeChosen(bool selected);
    void patternChosen(int index);
    // Tells a screen reader the new state of the row the user toggled.
    void rowCheckChanged(const QModelIndex& first, const QModelIndex& last, const QList<int>& roles);

    void toggleHelp();
    void browse();
    void search();
    enum class Progress { Hidden, Shown };
    // Runs `work`, which lets events through as it goes: the window takes no input meanwhile, a long
    // pass shows its progress, and closing the window stops it.
    void runCommand(Progress progress, const std::function<void(Runner&)>& work);
    // Shows a box and holds the command until the user has closed it.
    void showBox(Runner& runner, const QString& title, const QString& text);
    // The box for a file an execute or an undo could not rename.
    void showFailure(Runner& runner, const FileFailure& failure);
    // Brings the first row that would fail or failed into view, as a summary of the marks.
    void showFirstFailingRow();

    MessageBoxes& m_messages;
    FolderChooser& m_folderChooser;
    RenameSession m_session;
    bool m_toldRecordNotKept = false;
    QString m_recordsToTell; // what takeRecordsLeft() found, until the window shows
    std::chrono::milliseconds m_progressDelay { std::chrono::seconds(1) };
    Runner* m_runner = nullptr; // while a command runs
    QAction* m_undo = nullptr;

    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame3 = nullptr;
    QLabel* m_label1 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QRadioButton* m_option1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QLineEdit* m_text3 = nullptr;
    QPushButton* m_command2 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QRadioButton* m_option3 = nullptr;
    QComboBox* m_combo1 = nullptr;
    QLabel* m_label5 = nullptr;
    QLineEdit* m_text4 = nullptr;
    QLabel* m_label4 = nullptr;
    QLineEdit* m_text5 = nullptr;
    QRadioButton* m_option4 = nullptr;
    QLineEdit* m_text6 = nullptr;
    QPushButton* m_command3 = nullptr;
    ClickableLabel* m_label2 = nullptr;
    QPushButton* m_command4 = nullptr;
    QGroupBox* m_frame5 = nullptr;
    QPlainTextEdit* m_text7 = nullptr;
    QTreeView* m_listView1 = nullptr;
    QLabel* m_label7 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label6 = nullptr;
    QPushButton* m_command5 = nullptr;
    StatusAnnouncer* m_announcer = nullptr;
};
