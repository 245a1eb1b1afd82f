#pragma once

// What an execute pass shows of how far it has come, and how it learns that the user wants it to
// stop. The program shows a real progress dialog; tests stop the pass where they choose.
class RenameProgress
{
public:
    virtual ~RenameProgress() = default;
    // `done` of the pass's `total` moves are over. Called between moves, every so often and before
    // each failure box.
    virtual void show(int done, int total) = 0;
    // Asked once after every move, on the thread that moves the files; true stops the pass there.
    virtual bool stopRequested() = 0;
};
