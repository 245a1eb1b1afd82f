#pragma once

// What a long piece of work shows of how far it has come, and how it learns that the user wants it
// to stop. The program shows a real progress dialog; tests stop the work where they choose.
class RenameProgress
{
public:
    // Files being renamed (or taken back), new names looked up on the disk, or folders searched.
    enum class Work { Moving, Checking, Searching };
    // Whether it shows once the work has run for a while, or at once: a box about to show over the
    // window must come with the progress's cancel within reach.
    enum class Showing { InTime, Now };

    virtual ~RenameProgress() = default;
    // `done` of the work's `total` operations are over. Called between them, every so often, and
    // Now before each failure box.
    virtual void show(Work work, int done, int total, Showing showing) = 0;
    // Asked once after every operation, on the thread that makes them, saying which work it was;
    // true stops the work there.
    virtual bool stopRequested(Work work) = 0;
};
