#include "list_speech.h"

#include <QAccessible>
#include <QEvent>
#include <QTreeView>

namespace F1MDE {

namespace {

QAccessibleInterface* cellOf(QTreeView& view, const QModelIndex& index)
{
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    if (!list || !list->tableInterface() || !index.isValid())
        return nullptr;
    return list->tableInterface()->cellAt(index.row(), index.column());
}

class CurrentRowOnFocus final : public QObject
{
public:
    explicit CurrentRowOnFocus(QTreeView& view)
        : QObject(&view)
        , m_view(view)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Queued, so that it follows the focus event Qt sends for the list after this one.
        if (event->type() == QEvent::FocusIn && watched == &m_view)
            QMetaObject::invokeMethod(this, &CurrentRowOnFocus::reportCurrentRow, Qt::QueuedConnection);
        return false;
    }

private:
    void reportCurrentRow()
    {
        if (!m_view.hasFocus() || !QAccessible::isActive())
            return;
        if (QAccessibleInterface* cell = cellOf(m_view, m_view.currentIndex())) {
            QAccessibleEvent focus(cell, QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    }

    QTreeView& m_view;
};

} // namespace

void ReportListChanges(QTreeView& view)
{
    view.installEventFilter(new CurrentRowOnFocus(view));
    QObject::connect(view.model(), &QAbstractItemModel::dataChanged, &view,
        [&view](const QModelIndex& first, const QModelIndex& last, const QList<int>& roles) {
            // One row toggled, as by the user; checking every row after a search is no news.
            if (first != last || !roles.contains(Qt::CheckStateRole) || !QAccessible::isActive())
                return;
            if (QAccessibleInterface* cell = cellOf(view, first)) {
                QAccessible::State changed;
                changed.checked = true;
                QAccessibleStateChangeEvent event(cell, changed);
                QAccessible::updateAccessibility(&event);
            }
        });
}

} // namespace F1MDE
