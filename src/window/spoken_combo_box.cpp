#include "spoken_combo_box.h"

#include "platform/platform.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace {

QString spokenItemOf(const QComboBox* box)
{
    const QString spoken = box->currentData(Qt::AccessibleTextRole).toString();
    return spoken.isEmpty() ? box->currentText() : spoken;
}

// Orca reads a combo box's value from its text, never from its name, so the box offers the item's
// accessible text as a read-only text too.
class SpokenComboBox final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit SpokenComboBox(QComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }

    QString spokenItem() const { return spokenItemOf(box()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
#ifdef Q_OS_UNIX // as Qt does: the caption comes from the label relation there
            return spokenItem();
#else
            return QAccessibleWidget::text(t);
#endif
        case QAccessible::Value:
            return spokenItem();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        return s;
    }

    // The drop-down list, as under Qt's own reading.
    int childCount() const override
    {
        return 1;
    }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return spokenItem().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override
    {
        return static_cast<int>(spokenItem().size());
    }
    int cursorPosition() const override
    {
        return 0;
    }
    void setCursorPosition(int) override { }
    int selectionCount() const override
    {
        return 0;
    }
    void selection(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }
    QRect characterRect(int) const override
    {
        return {};
    }
    int offsetAtPoint(const QPoint&) const override
    {
        return -1;
    }
    void scrollToSubstring(int, int) override { }

    QStringList actionNames() const override
    {
        return { showMenuAction(), pressAction() };
    }
    void doAction(const QString& actionName) override
    {
        if (actionName == showMenuAction() || actionName == pressAction())
            box()->showPopup();
        else
            QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface* spokenComboBoxFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* box = qobject_cast<QComboBox*>(object);
    // A box that takes typing is read by its text box, as Qt reads it.
    if (!box || box->isEditable())
        return nullptr;
    return new SpokenComboBox(box);
}

#ifdef Q_OS_WIN
// Qt 6.4's UI Automation raises a notification of its own, as important, when a combo box's value
// changes, and speaks in it the string the change carries, which is the item's text as the box shows
// it ("#", " ") and not its words. Where the window raises the words itself (Platform::raiseNotice),
// for an element NVDA takes, the change is handed on without a string, for which Qt raises nothing;
// elsewhere with the words, which Qt then raises as the box's new value. Every other event is handed
// on as it came.
QAccessible::UpdateHandler handedOnTo = nullptr;

void handOnInWords(QAccessibleEvent* event);

void handOn(QAccessibleEvent* event)
{
    if (handedOnTo) {
        handedOnTo(event);
        return;
    }
    // To the platform's UI Automation, which QAccessible reaches only while no handler is installed.
    // A table has already been told of its model's change, and Qt 6.4's UI Automation does nothing
    // with that event, so it is not passed again.
    if (event->type() == QAccessible::TableModelChanged)
        return;
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(handOnInWords);
}

void handOnInWords(QAccessibleEvent* event)
{
    auto* box
        = event->type() == QAccessible::ValueChanged ? qobject_cast<QComboBox*>(event->object()) : nullptr;
    if (!box || box->isEditable()) {
        handOn(event);
        return;
    }
    QAccessibleValueChangeEvent inWords(
        box, Platform::raisesNotices() ? QVariant() : QVariant(spokenItemOf(box)));
    handOn(&inWords);
}
#endif

} // namespace

void installSpokenComboBoxes()
{
    static const bool installed = [] {
        QAccessible::installFactory(spokenComboBoxFactory);
#ifdef Q_OS_WIN
        handedOnTo = QAccessible::installUpdateHandler(handOnInWords);
#endif
        return true;
    }();
    Q_UNUSED(installed)
}
