#pragma once

#include <QString>

// Modal message boxes with one OK button. The program shows real boxes; tests record and answer them.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Returns once the user has closed the box.
    virtual void show(const QString& title, const QString& text) = 0;
};
