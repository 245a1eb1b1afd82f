#pragma once

// What a preview or an execute pass shows of how far it has come, and how it learns that the user
// wants it to stop. The program shows a real progress dialog; tests stop the pass where they choose.
class RenameProgress
{
public:
    enum class Work { Moving, Checking }; // files being renamed, or new names looked up on the disk

    virtual ~RenameProgress() = default;
    // `done` of the pass's `total` moves or look-ups are over. Called between them, every so often
    // and before each failure box.
    virtual void show(Work work, int done, int total) = 0;
    // Asked once after every move or look-up, on the thread that makes them, saying which it was;
    // true stops the pass there.
    virtual bool stopRequested(Work work) = 0;
};
