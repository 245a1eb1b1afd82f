#pragma once

#include "file_list_model.h"

// What the errno value of a failed move says about it, as a row's mark.
RowMark failureOf(int error);
