#pragma once

// What a long piece of work shows of how far it has come, and how it learns that the user wants it
// to stop. The program shows a real progress dialog; tests stop the work where they choose.
class RenameProgress
{
public:
    // Files being renamed (or taken back), new names looked up on the disk, or folders searched.
    enum class Work { Moving, Checking, Searching };

    virtual ~RenameProgress() = default;
    // `done` of the work's `total` operations are over. Called between them, every so often and
    // before each failure box.
    virtual void show(Work work, int done, int total) = 0;
    // Asked once after every operation, on the thread that makes them, saying which work it was;
    // true stops the work there.
    virtual bool stopRequested(Work work) = 0;
};
