#include "status_announcer.h"

#include <QAccessibleWidget>

namespace {

class NotificationAccessible final : public QAccessibleWidget
{
public:
    explicit NotificationAccessible(StatusAnnouncer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const StatusAnnouncer*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* notificationFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String(StatusAnnouncer::staticMetaObject.className()))
        if (auto* announcer = qobject_cast<StatusAnnouncer*>(object))
            return new NotificationAccessible(announcer);
    return nullptr;
}

} // namespace

StatusAnnouncer::StatusAnnouncer(QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(notificationFactory);
        return true;
    }();
    Q_UNUSED(installed)
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 1, 1);
    hide();
}

void StatusAnnouncer::announce(const QString& text, Platform::Notice notice)
{
    // Hidden first, so that a message equal to the last one is presented again.
    hide();
    m_text = text;
    if (text.isEmpty())
        return;
    show();
    Platform::raiseNotice(window()->winId(), text, notice);
}
