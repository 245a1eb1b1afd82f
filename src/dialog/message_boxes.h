#pragma once

#include <QString>

#include <functional>

// Message boxes with one OK button. The program shows real boxes; tests record and answer them.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Opens a box and returns at once; `closed` is called once the user has closed it. Whoever
    // opens it waits for that (Runner::hold()), so that nothing goes on behind a box.
    virtual void open(const QString& title, const QString& text, std::function<void()> closed) = 0;
};
