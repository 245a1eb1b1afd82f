#pragma once

#include "runner/rename_progress.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <memory>

class QProgressBar;
class QProgressDialog;
class QWidget;

// The progress of one preview or execute command in a real progress dialog, modal to the window it shows
// over. The dialog appears once the command has run for `showAfter` and closes with this object, so a quick
// command shows none.
class QtRenameProgress final : public RenameProgress
{
public:
    QtRenameProgress(QWidget* owner, std::chrono::milliseconds showAfter);
    ~QtRenameProgress() override;
    Q_DISABLE_COPY_MOVE(QtRenameProgress)

    void show(Work work, int done, int total, Showing showing) override;
    // After the dialog's button "取消", Escape, closing the dialog, or requestStop().
    bool stopRequested(Work) override { return m_stopRequested; }
    // What the dialog's button does, for the window being closed meanwhile.
    void requestStop() { m_stopRequested = true; }

private:
    // After the dialog's cancel, which hides it: the box it had in front keeps the keyboard.
    void cancelled();

    QWidget* m_owner;
    std::chrono::milliseconds m_showAfter;
    QElapsedTimer m_running;
    std::unique_ptr<QProgressDialog> m_dialog;
    QProgressBar* m_bar = nullptr;
    std::atomic<bool> m_stopRequested = false; // asked on the thread that moves the files or looks them up
};
