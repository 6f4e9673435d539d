// Filling a script list variable with numbers, as the game's list built-ins do.
#pragma once

#include <cstdint>
#include <vector>

struct Variable;

// Clears the variable and makes it a list with one element per number, each with its
// checksum, the first element current and loaded. The number of elements; a null
// variable takes nothing and gives 0.
int32_t fill_number_list(Variable* variable, const std::vector<double>& numbers);
