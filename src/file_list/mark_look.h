#pragma once

#include "file_list_model.h"

#include <QColor>
#include <QVariant>

// How a row's mark looks in the list: its kind decides the colour of the preview text and the sign
// drawn beside it.
enum class MarkKind { None, Foreseen, Done, Failed };

MarkKind kindOf(RowMark mark);
QColor colourOf(MarkKind kind);
// The sign of a mark of `kind` other than None, as the list's decoration; none without a GUI.
QVariant markIcon(MarkKind kind);
