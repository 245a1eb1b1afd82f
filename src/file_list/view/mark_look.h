#pragma once

#include "file_list/row_mark.h"

#include <QVariant>

// How a row's mark shows in the list: the colour of its preview text and its icon; nothing for no
// mark.
QVariant markColour(MarkKind kind);
QVariant markIcon(MarkKind kind);
