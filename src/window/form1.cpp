#include "form1.h"

#include "app_identity.h"
#include "clickable_label.h"
#include "dialog/browse_for_folder.h"
#include "dialog/message_boxes.h"
#include "dialog/qt_rename_progress.h"
#include "file_list/file_list_ops.h"
#include "file_list/init_file_list.h"
#include "file_list/new_name_rule.h"
#include "path_box.h"
#include "platform/platform.h"
#include "runner/runner.h"
#include "twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
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

constexpr int clientWidthTwips = 12135;
constexpr int clientHeightTwips = 4170;

const QString listCaption = u"文件列表"_s;
const QString helpCaption = u"帮助说明"_s;

// Creates a control of kind T inside `container`, named and placed in twips relative to the
// container's outer corner.
template <typename T, typename... Args>
T* place(QWidget* container, const QString& name, int left, int top, int width, int height, Args&&... args)
{
    auto* control = new T(std::forward<Args>(args)..., container);
    control->setObjectName(name);
    control->setGeometry(Twips::toPixels(left, top, width, height));
    return control;
}

// Qt reads a widget inside a group box by that box's title unless the widget has a name of its
// own, and a box inside another box is no exception; such a box takes its own title as its name,
// again whenever the title changes. Elsewhere Qt reads the title as it stands.
void setFrameTitle(QGroupBox* frame, const QString& title)
{
    frame->setTitle(title);
    if (qobject_cast<QGroupBox*>(frame->parentWidget()))
        frame->setAccessibleName(title);
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

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

QString Form1::helpText()
{
    return u"筛选条件:\r\n"
           u"1.路径:支持多级目录\r\n"
           u"2.后缀名:只搜索当前设置的文件后缀名（单个后缀名）\r\n"
           u"3.关键字:搜索含有当前设置的关键字的文件名\r\n"_s
        + QString(60, u' ') + u"\r\n"_s
        + u"修改规则:\r\n"
          u"1.规则介绍:#命名为个位数（0-9）,##为十位数（01-99）,###为\r\n"
          u"百位数（001-999）,*为重命名文件名为关键字,*-#为关键字-数\r\n"
          u"字（0-9）\r\n"
          u"修改后缀名:为替换文件拓展名\r\n"
          u" \r\n"_s;
}

void Form1::createControls()
{
    setWindowTitle(AppIdentity::windowTitle());
    resize(Twips::toPixels(clientWidthTwips), Twips::toPixels(clientHeightTwips));
    // A face that holds both Chinese and Latin letters draws every caption in one face; 9 points
    // is the size the controls were drawn for.
    QFont windowFont = font();
    windowFont.setFamilies(
        { u"WenQuanYi Micro Hei"_s, u"Noto Sans CJK SC"_s, u"Microsoft YaHei"_s, windowFont.family() });
    windowFont.setPointSizeF(9);
    setFont(windowFont);

    m_frame1 = place<QGroupBox>(this, u"Frame1"_s, 120, 120, 5895, 3495);
    setFrameTitle(m_frame1, u"功能设置"_s);

    m_frame3 = place<QGroupBox>(m_frame1, u"Frame3"_s, 240, 240, 5415, 1305);
    setFrameTitle(m_frame3, u"筛选条件"_s);
    m_label1 = place<QLabel>(m_frame3, u"Label1"_s, 240, 405, 495, 255, u"路径:"_s);
    m_text1 = place<PathBox>(m_frame3, u"Text1"_s, 720, 360, 3285, 300);
    m_command1 = place<QPushButton>(m_frame3, u"Command1"_s, 4200, 360, 975, 300, u"浏览"_s);
    m_option1 = place<QRadioButton>(m_frame3, u"Option1"_s, 240, 900, 975, 180, u"后缀名:"_s);
    m_text2 = place<QLineEdit>(m_frame3, u"Text2"_s, 1200, 855, 735, 300, u".txt"_s);
    m_option2 = place<QRadioButton>(m_frame3, u"Option2"_s, 2160, 900, 975, 255, u"关键字:"_s);
    m_text3 = place<QLineEdit>(m_frame3, u"Text3"_s, 3120, 855, 900, 300);
    m_command2 = place<QPushButton>(m_frame3, u"Command2"_s, 4200, 840, 975, 300, u"搜索"_s);

    m_frame2 = place<QGroupBox>(m_frame1, u"Frame2"_s, 240, 1680, 5415, 1185);
    setFrameTitle(m_frame2, u"修改规则"_s);
    m_option3 = place<QRadioButton>(m_frame2, u"Option3"_s, 240, 270, 855, 255, u"规则:"_s);
    m_combo1 = place<QComboBox>(m_frame2, u"Combo1"_s, 960, 250, 975, 300);
    m_label5 = place<QLabel>(m_frame2, u"Label5"_s, 2160, 300, 495, 255, u"起始:"_s);
    m_text4 = place<QLineEdit>(m_frame2, u"Text4"_s, 2640, 240, 495, 300, u"1"_s);
    m_label4 = place<QLabel>(m_frame2, u"Label4"_s, 3480, 300, 735, 255, u"关键字:"_s);
    m_text5 = place<QLineEdit>(m_frame2, u"Text5"_s, 4200, 240, 1020, 300);
    m_option4 = place<QRadioButton>(m_frame2, u"Option4"_s, 240, 750, 1335, 255, u"修改后缀名:"_s);
    m_text6 = place<QLineEdit>(m_frame2, u"Text6"_s, 1560, 720, 735, 300, u".txt"_s);
    m_command3 = place<QPushButton>(m_frame2, u"Command3"_s, 4200, 720, 975, 300, u"预览"_s);

    m_label2 = place<ClickableLabel>(m_frame1, u"Label2"_s, 360, 3000, 855, 375, u"查看说明"_s);
    setTextColour(m_label2, QColor(192, 0, 192));
    QFont linkFont = m_label2->font();
    // Song is the face this label is drawn for; the others stand in where it is not installed.
    linkFont.setFamilies({ u"宋体"_s, u"SimSun"_s, u"WenQuanYi Micro Hei"_s, u"Noto Sans CJK SC"_s });
    linkFont.setPointSizeF(10.5);
    linkFont.setWeight(QFont::Normal);
    linkFont.setItalic(false);
    linkFont.setUnderline(true);
    m_label2->setFont(linkFont);
    m_command4 = place<QPushButton>(m_frame1, u"Command4"_s, 4680, 3000, 975, 300, u"执行"_s);

    m_frame5 = place<QGroupBox>(this, u"Frame5"_s, 6120, 120, 5895, 3495);
    setFrameTitle(m_frame5, listCaption);
    m_listView1 = place<QTreeView>(m_frame5, u"ListView1"_s, 120, 240, 5655, 3135);
    // The list and the help text take turns under the frame's changing title, so each has a name
    // of its own.
    m_listView1->setAccessibleName(listCaption);
    m_listView1->setRootIsDecorated(false);
    m_listView1->setUniformRowHeights(true);
    m_listView1->setAllColumnsShowFocus(true);
    m_text7 = place<QPlainTextEdit>(m_frame5, u"Text7"_s, 120, 240, 5655, 3135, helpText());
    m_text7->setAccessibleName(helpCaption);
    // Without scroll bars long lines wrap at the box's width and the box covers exactly the list.
    m_text7->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_text7->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text7->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text7->hide();
    m_text7->raise();

    m_label7 = place<QLabel>(this, u"Label7"_s, 240, 3780, 2295, 255, AppIdentity::contactLine());
    setTextColour(m_label7, QColor(128, 128, 255));
    m_label3 = place<QLabel>(this, u"Label3"_s, 6120, 3780, 2295, 255);
    setTextColour(m_label3, QColor(255, 128, 0));
    m_label6 = place<QLabel>(this, u"Label6"_s, 8520, 3780, 2295, 255);
    setTextColour(m_label6, QColor(0, 0, 192));
    m_command5 = place<QPushButton>(this, u"Command5"_s, 11040, 3720, 975, 300, u"退出"_s);

    // Labels and buttons are read as the text they show at the moment, by Qt itself. A box is read
    // by the caption beside it: a label's buddy gets the label's text, and the boxes after an option
    // button carry that button's text.
    // Ctrl+Z reaches the window wherever the focus is, except in a text box, which takes the key
    // for its own undo first.
    m_undo = new QAction(u"撤销上次执行"_s, this);
    m_undo->setShortcut(QKeySequence::Undo);
    m_undo->setShortcutContext(Qt::WindowShortcut);
    m_undo->setEnabled(false);
    addAction(m_undo);
    m_listView1->addAction(m_undo);
    m_listView1->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_label1->setBuddy(m_text1);
    m_label5->setBuddy(m_text4);
    m_label4->setBuddy(m_text5);
    m_text2->setAccessibleName(m_option1->text());
    m_text3->setAccessibleName(m_option2->text());
    // Read where Qt names a combo box by its name; on Linux it reads the current item instead.
    m_combo1->setAccessibleName(m_option3->text());
    m_text6->setAccessibleName(m_option4->text());
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
}

void Form1::orderTabStops()
{
    const QList<QWidget*> stops = { m_command4, m_command5, m_option3, m_combo1, m_text4, m_text2, m_text3,
        m_option4, m_text6, m_text5, m_listView1, m_option1, m_option2, m_command3, m_command2, m_text1,
        m_command1, m_text7 };
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
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
}

void Form1::toggleHelp()
{
    if (!m_text7->isHidden()) {
        setFrameTitle(m_frame5, listCaption);
        m_text7->hide();
    } else {
        setFrameTitle(m_frame5, helpCaption);
        m_text7->show();
    }
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
    runCommand(Progress::Hidden, [this](Runner& runner) {
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
    });
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
    runCommand(Progress::Shown, [&](Runner& runner) {
        // A stop ends the whole command, not only the pass it came in.
        for (const NewNameRule::PassValue& value : NewNameRule::passValues(settings, QLocale())) {
            if (runner.stopRequested(RenameProgress::Work::Moving))
                break;
            const PassResult result = F1MDE::ApplyNewNames(m_session, value.value.toUtf8(), kind, value.mode,
                runner, [this](const FileFailure& failure) { showFailure(failure); });
            if (kind == PassKind::Execute)
                m_label6->setText(u"已完成 %1 个文件修改!"_s.arg(result.renamed));
        }
    });
    showFirstFailingRow();
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
