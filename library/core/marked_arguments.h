// The arguments of a variadic built-in: the cells the call site pushed above its stack mark.
#pragma once

#include <vector>

struct ValueCell;

// Takes the innermost stack mark and gives the cells above it, first argument first; the
// stack top goes back to the mark. The cells stay readable until the next push. False
// (after a run-time error) when no mark is saved or the mark is not below the top.
bool take_marked_arguments(std::vector<ValueCell*>& cells);
