#pragma once

class QTreeView;

namespace F1MDE {

// What the file list tells a screen reader beyond what Qt's view tells it: that the row's check
// box changed when the user toggles it, and which row is current when the list takes the focus
// (Qt reports the list itself last, after its current row).
void ReportListChanges(QTreeView& view);

} // namespace F1MDE
