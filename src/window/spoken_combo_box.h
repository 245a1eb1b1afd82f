#pragma once

// Lets a screen reader on Linux read a list box (a combo box that takes no typing) by its items'
// accessible texts. Qt names such a box there by the text it shows and nothing else, and Orca 43
// hears signs such as "#" or " " as punctuation or not at all; an item's Qt::AccessibleTextRole,
// where set, is read instead, by the box as by its drop-down list. Everything else reads as Qt
// reads it; on Windows the box's change of value reaches UI Automation in words too, or not at all
// where the window raises the words itself. Call once before the first such box is read.
void installSpokenComboBoxes();
