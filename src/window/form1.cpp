#include "form1.h"

#include "clickable_label.h"
#include "dialog/browse_for_folder.h"
#include "dialog/message_boxes.h"
#include "dialog/qt_rename_progress.h"
#include "file_list/file_list_ops.h"
#include "file_list/new_name_rule.h"
#include "file_list/view/init_file_list.h"
#include "platform/platform.h"
#include "runner/runner.h"
#include "status_announcer.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

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

Form1::Form1(MessageBoxes& messages, FolderChooser& folderChooser, QWidget* parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_folderChooser(folderChooser)
{
    createControls();
    connectReactions();
    orderTabStops();

    // The load: each choice runs its reaction before the next statement, which is what leaves the
    // keyword box disabled after the rule mode enabled it.
    m_option1->setChecked(true);
    m_option3->setChecked(true);
    F1MDE::InitFileList(m_session.list(), *m_listView1, *m_combo1);
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
        m_announcer->announce(m_combo1->itemData(index, Qt::AccessibleTextRole).toString());
}

void Form1::setPath(const QString& path)
{
    m_text1->setText(path);
}

void Form1::browse()
{
    m_text1->setText(Dialog::BrowseForFolder(this, u"请选择文件夹"_s, m_folderChooser));
}

bool Form1::acceptsSearchPath(const QString& path)
{
    return !Platform::firstMatchingEntry(Platform::pathFromText(path)).isEmpty();
}

void Form1::search()
{
    QString found; // stays empty when no search ran
    runCommand(Progress::Hidden, [this, &found](Runner& runner) {
        if (!runner.answer<bool>([path = m_text1->text()] { return acceptsSearchPath(path); })) {
            m_messages.show(u"ERROR"_s, u"请选择路径！"_s);
            return;
        }
        const QByteArray path = Platform::pathFromText(m_text1->text());
        if (m_option1->isChecked())
            F1MDE::SearchFiles(m_session, path, m_text2->text(), runner, m_messages);
        if (m_option2->isChecked())
            F1MDE::SearchFiles(m_session, path, m_text3->text(), runner, m_messages);
        m_listView1->show();
        m_label3->setText(u"文件数量: "_s + QString::number(m_session.list().rowCount()));
        found = m_label3->text();
    });
    m_announcer->announce(found);
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
    QString done; // stays empty when no pass ran
    int failing = 0; // of the last preview pass
    runCommand(Progress::Shown, [&](Runner& runner) {
        // A stop ends the whole command, not only the pass it came in.
        for (const NewNameRule::PassValue& value : NewNameRule::passValues(settings, QLocale())) {
            if (runner.stopRequested(RenameProgress::Work::Moving))
                break;
            const PassResult result = F1MDE::ApplyNewNames(m_session, value.value.toUtf8(), kind, value.mode,
                runner, [this](const FileFailure& failure) { showFailure(failure); });
            if (kind == PassKind::Execute) {
                m_label6->setText(u"已完成 %1 个文件修改!"_s.arg(result.renamed));
                done = m_label6->text();
            }
            failing = result.foreseen;
        }
    });
    showFirstFailingRow();
    if (kind == PassKind::Execute) {
        m_announcer->announce(done);
    } else {
        m_announcer->announce(failing > 0 ? u"%1 个文件将无法修改"_s.arg(failing) : QString());
    }
}

void Form1::undoLastExecute()
{
    // Not while another command runs, the window then taking no input.
    if (!m_session.canUndo() || !isEnabled())
        return;
    runCommand(Progress::Shown, [this](Runner& runner) {
        const PassResult result
            = m_session.undo(runner, [this](const FileFailure& failure) { showFailure(failure); });
        m_label6->setText(u"已撤销 %1 个文件修改!"_s.arg(result.renamed));
    });
    m_announcer->announce(m_label6->text());
}

void Form1::rowCheckChanged(const QModelIndex& first, const QModelIndex& last, const QList<int>& roles)
{
    // Only the row the user toggled in the list; checking all rows after a search is no news.
    if (first != last || !roles.contains(Qt::CheckStateRole) || !m_listView1->hasFocus()
        || first.row() != m_listView1->currentIndex().row())
        return;
    m_announcer->announce(m_session.list().isChecked(first.row()) ? u"已勾选"_s : u"未勾选"_s);
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
    if (std::exchange(m_closeWhenDone, false))
        close();
}

void Form1::showFailure(const FileFailure& failure)
{
    m_messages.show(u"ERROR"_s, u" 修改失败！项目地址: "_s + QString::fromUtf8(failure.path));
}

void Form1::showFirstFailingRow()
{
    const FileListModel& list = m_session.list();
    if (const int row = list.firstFailingRow(); row >= 0)
        m_listView1->scrollTo(list.index(row, FileListModel::PreviewColumn));
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_runner) {
        m_runner->requestStop();
        m_closeWhenDone = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
