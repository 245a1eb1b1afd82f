#pragma once

#include <QByteArray>

#include <array>

// Up to this many moves wait on a slow volume at once: a share answers them side by side, and most
// of a move's time there is its round trips. More gain little and hold as many of its connections.
constexpr int movesAtOnce = 8;
// A move may start this many rows ahead of the first whose outcome is yet to come, where it is in
// another folder: Linux changes the names of one folder only one after another, so moves overlap
// only across folders, and a library of photos kept by month has a few hundred in each. Their
// outcomes wait, a few bytes each, to be told in order.
constexpr int movesAhead = 2048;

// Whether two moves of one folder, each given as its old and new name, touch a name in common as a
// volume that ignores letter case compares them: then the later waits for the earlier, as it would
// in a pass of one file at a time.
bool namesMeet(const std::array<QByteArray, 2>& earlier, const std::array<QByteArray, 2>& later);
