#include "form1.h"

#include "app_identity.h"
#include "clickable_label.h"
#include "path_box.h"
#include "spoken_combo_box.h"
#include "status_announcer.h"
#include "twips.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

// How the window looks: its controls, where they sit, what a screen reader calls them, and the help
// text laid over the list.

using namespace Qt::StringLiterals;

namespace {

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
    installSpokenComboBoxes();
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
    m_announcer = new StatusAnnouncer(this);

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
    // Read where Qt names a combo box by its name; on Linux it reads the current item instead and
    // takes the caption from a label whose buddy the box is. The option button beside the box is
    // no label, so a label that is never shown carries its caption.
    m_combo1->setAccessibleName(m_option3->text());
    auto* comboCaption = new QLabel(m_option3->text(), m_frame2);
    comboCaption->hide();
    comboCaption->setBuddy(m_combo1);
    m_text6->setAccessibleName(m_option4->text());
}

void Form1::orderTabStops()
{
    const QList<QWidget*> stops = { m_command4, m_command5, m_option3, m_combo1, m_text4, m_text2, m_text3,
        m_option4, m_text6, m_text5, m_listView1, m_option1, m_option2, m_command3, m_command2, m_text1,
        m_command1, m_text7 };
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
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
