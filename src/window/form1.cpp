#include "form1.h"

#include "app_identity.h"
#include "clickable_label.h"
#include "dialog/browse_for_folder.h"
#include "dialog/message_boxes.h"
#include "dialog/qt_rename_progress.h"
#include "file_list/view/init_file_list.h"
#include "rename/new_name_rule.h"
#include "runner/runner.h"
#include "status_announcer.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include <cstring>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Keeps a window from taking input while a command lets events through. Disabling it also drops
// the keyboard focus, which goes back where it was when the command ends.
class InputPause final
{
public:
    explicit InputPause(QWidget& window)
        : m_window(&window)
        , m_focused(window.focusWidget())
    {
        m_window->setEnabled(false);
    }
    ~InputPause()
    {
        m_window->setEnabled(true);
        if (m_focused)
            m_focused->setFocus();
    }
    Q_DISABLE_COPY_MOVE(InputPause)

private:
    QWidget* m_window;
    QPointer<QWidget> m_focused;
};

} // namespace

Form1::Form1(
    MessageBoxes& messages, FolderChooser& folderChooser, const QByteArray& recordFolder, QWidget* parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_folderChooser(folderChooser)
    , m_session(recordFolder)
{
    createControls();
    connectReactions();
    orderTabStops();

    // The load: each choice runs its reaction before the next statement, which is what leaves the
    // keyword box disabled after the rule mode enabled it.
    m_option1->setChecked(true);
    m_option3->setChecked(true);
    F1MDE::InitFileList(
        m_session.list(), *m_listView1, *m_combo1, NewNameRule::patterns(), NewNameRule::spokenPatterns());
    m_command4->setFocus();
}

void Form1::connectReactions()
{
    connect(m_option1, &QRadioButton::toggled, this, &Form1::filterBySuffixChosen);
    connect(m_option2, &QRadioButton::toggled, this, &Form1::filterByKeywordChosen);
    connect(m_option3, &QRadioButton::toggled, this, &Form1::ruleModeChosen);
    connect(m_option4, &QRadioButton::toggled, this, &Form1::suffixModeChosen);
    connect(m_combo1, &QComboBox::currentIndexChanged, this, &Form1::patternChosen);
    connect(m_label2, &ClickableLabel::clicked, this, &Form1::toggleHelp);

    connect(m_command1, &QPushButton::clicked, this, &Form1::browse);
    connect(m_command2, &QPushButton::clicked, this, &Form1::search);
    connect(m_command3, &QPushButton::clicked, this, [this] { SetFileName(false); });
    connect(m_command4, &QPushButton::clicked, this, [this] { SetFileName(true); });
    connect(m_command5, &QPushButton::clicked, this, &Form1::close);
    connect(m_undo, &QAction::triggered, this, &Form1::undoLastExecute);
    connect(&m_session.list(), &FileListModel::dataChanged, this, &Form1::rowCheckChanged);
}

void Form1::filterBySuffixChosen(bool selected)
{
    if (!selected)
        return;
    m_text2->setEnabled(true);
    m_text3->setEnabled(false);
}

void Form1::filterByKeywordChosen(bool selected)
{
    if (!selected)
        return;
    m_text2->setEnabled(false);
    m_text3->setEnabled(true);
}

void Form1::ruleModeChosen(bool selected)
{
    if (!selected)
        return;
    m_combo1->setEnabled(true);
    m_text4->setEnabled(true);
    m_text5->setEnabled(true);
    m_text6->setEnabled(false);
}

void Form1::suffixModeChosen(bool selected)
{
    if (!selected)
        return;
    m_combo1->setEnabled(false);
    m_text4->setEnabled(false);
    m_text5->setEnabled(false);
    m_text6->setEnabled(true);
}

void Form1::patternChosen(int index)
{
    m_text5->setEnabled(index >= NewNameRule::firstKeywordPattern);
    // Orca 43 takes a closed box's new name for a redundant notice and keeps it to itself.
    if (m_combo1->hasFocus())
        m_announcer->announce(
            m_combo1->itemData(index, Qt::AccessibleTextRole).toString(), Platform::Notice::State);
}

void Form1::setPath(const QString& path)
{
    m_text1->setText(path);
}

void Form1::browse()
{
    m_text1->setText(Dialog::BrowseForFolder(this, u"请选择文件夹"_s, m_folderChooser));
}

void Form1::search()
{
    const SearchSettings settings {
        .path = m_text1->text(),
        .filterBy = m_option1->isChecked() ? FilterKind::Suffix : FilterKind::Keyword,
        .suffix = m_text2->text(),
        .keyword = m_text3->text(),
    };
    QString found; // stays empty when no search ran
    runCommand(Progress::Hidden, [&](Runner& runner) {
        const SearchResult result
            = m_session.search(settings, runner, [&](const FolderAllList::FolderFailure&) {
                  showBox(runner, AppIdentity::applicationTitle(), u"请填写正确的规则！"_s);
              });
        if (result.outcome == SearchResult::Outcome::PathRefused) {
            showBox(runner, u"ERROR"_s, u"请选择路径！"_s);
            return;
        }
        m_listView1->show();
        m_label3->setText(u"文件数量: "_s + QString::number(result.rows));
        found = m_label3->text();
    });
    m_announcer->announce(found, Platform::Notice::Result);
}

void Form1::SetFileName(bool sMode)
{
    const NewNameRule::Settings settings {
        .ruleMode = m_option3->isChecked(),
        .suffixMode = m_option4->isChecked(),
        .patternIndex = m_combo1->currentIndex(),
        .patternText = m_combo1->currentText(),
        .startText = m_text4->text(),
        .keyword = m_text5->text(),
        .newSuffix = m_text6->text(),
    };
    const PassKind kind = sMode ? PassKind::Execute : PassKind::Preview;
    std::optional<PassResult> result; // none when no pass ran
    runCommand(Progress::Shown, [&](Runner& runner) {
        result = m_session.applyRule(
            settings, kind, runner, [&](const FileFailure& failure) { showFailure(runner, failure); });
    });
    showFirstFailingRow();
    if (kind == PassKind::Execute) {
        if (result)
            m_label6->setText(u"已完成 %1 个文件修改!"_s.arg(result->renamed));
        m_announcer->announce(result ? m_label6->text() : QString(), Platform::Notice::Result);
        if (result && result->recordError != 0)
            tellRecordNotKept(result->recordError);
    } else {
        const int failing = result ? result->foreseen : 0;
        m_announcer->announce(
            failing > 0 ? u"%1 个文件将无法修改"_s.arg(failing) : QString(), Platform::Notice::Result);
    }
}

void Form1::undoLastExecute()
{
    // Not while another command runs, the window then taking no input.
    if (!m_session.canUndo() || !isEnabled())
        return;
    PassResult result;
    runCommand(Progress::Shown, [&](Runner& runner) {
        result = m_session.undo(runner, [&](const FileFailure& failure) { showFailure(runner, failure); });
    });
    m_label6->setText(u"已撤销 %1 个文件修改!"_s.arg(result.renamed));
    m_announcer->announce(m_label6->text(), Platform::Notice::Result);
}

void Form1::takeRecordsLeft()
{
    // No pause of the window's input: disabling it would take its first focus away.
    Runner runner;
    const RecordsFound found = m_session.takeRecordsLeft(runner);
    m_undo->setEnabled(m_session.canUndo());
    QStringList told;
    for (const CutOffExecute& execute : found.cutOff)
        told += u"上次在“%1”中的执行被中断，磁盘上已有 %2 个文件改了名。按 Ctrl+Z 可以把它们改回原名。"_s.arg(
            QString::fromUtf8(execute.searchedFolder), QString::number(execute.renamed));
    if (found.unreadable > 0)
        told += u"有 %1 份撤销记录无法读取，已跳过，其中的修改无法撤销。"_s.arg(found.unreadable);
    m_recordsToTell = told.join(u'\n');
    if (isVisible())
        tellRecordsLeft();
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    tellRecordsLeft();
}

void Form1::tellRecordsLeft()
{
    if (m_recordsToTell.isEmpty())
        return;
    // Opened once the window is up, so that the box comes over it.
    QMetaObject::invokeMethod(
        this,
        [this, text = std::exchange(m_recordsToTell, {})] {
            m_messages.open(AppIdentity::applicationTitle(), text, [] {});
        },
        Qt::QueuedConnection);
}

void Form1::tellRecordNotKept(int error)
{
    if (std::exchange(m_toldRecordNotKept, true))
        return;
    m_messages.open(AppIdentity::applicationTitle(),
        u"无法保存撤销记录（%1），关闭窗口后将不能再撤销这次执行。"_s.arg(
            QString::fromLocal8Bit(std::strerror(error))),
        [] {});
}

void Form1::rowCheckChanged(const QModelIndex& first, const QModelIndex& last, const QList<int>& roles)
{
    // Only the row the user toggled in the list; checking all rows after a search is no news.
    if (first != last || !roles.contains(Qt::CheckStateRole) || !m_listView1->hasFocus()
        || first.row() != m_listView1->currentIndex().row())
        return;
    m_announcer->announce(
        m_session.list().isChecked(first.row()) ? u"已勾选"_s : u"未勾选"_s, Platform::Notice::State);
}

void Form1::runCommand(Progress shown, const std::function<void(Runner&)>& work)
{
    { // the progress dialog closes before the window takes input again
        // Dialogs made after the window was disabled, the progress and the boxes, take input.
        const InputPause pause(*this);
        std::optional<QtRenameProgress> progress;
        if (shown == Progress::Shown)
            progress.emplace(this, m_progressDelay);
        Runner runner(progress ? &*progress : nullptr);
        m_runner = &runner;
        work(runner);
        m_runner = nullptr;
    }
    m_undo->setEnabled(m_session.canUndo());
}

void Form1::showBox(Runner& runner, const QString& title, const QString& text)
{
    runner.hold([&](std::function<void()> closed) { m_messages.open(title, text, std::move(closed)); });
}

void Form1::showFailure(Runner& runner, const FileFailure& failure)
{
    showBox(runner, u"ERROR"_s, u" 修改失败！项目地址: "_s + QString::fromUtf8(failure.path));
}

void Form1::showFirstFailingRow()
{
    const FileListModel& list = m_session.list();
    if (const int row = list.firstFailingRow(); row >= 0)
        m_listView1->scrollTo(m_listView1->model()->index(row, FileListModel::PreviewColumn));
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closed at once, whatever a command waits for (a card whose driver no longer answers): the
    // command stops after the folder or the move in progress, and the program ends once it has.
    if (m_runner)
        m_runner->requestStop();
    QWidget::closeEvent(event);
}
