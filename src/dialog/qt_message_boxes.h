#pragma once

#include "message_boxes.h"

#include <QPointer>
#include <QWidget>

// Real message boxes: one OK button, no icon, modal to the owner window or to the dialog up over it.
class QtMessageBoxes final : public MessageBoxes
{
public:
    // The window exists only after the boxes it is given, so it is named here once it does.
    void setOwner(QWidget* owner) { m_owner = owner; }
    void open(const QString& title, const QString& text, std::function<void()> closed) override;

private:
    QPointer<QWidget> m_owner;
};
