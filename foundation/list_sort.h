// Sorting the values of a list variable's element chain in place.
#pragma once

#include <cstdint>

#include "foundation/variable.h"

// Orders the values of the chain that element belongs to: smallest first when
// ascending is non-zero, else largest first; strings compare with strcmp when
// case_sensitive is non-zero, else with _stricmp. Numbers come before strings in either
// order. Equal values keep their order. Values (with their blocks and info records) move
// between the elements, which stay where they are, as does a FOREACH standing on one;
// each element's checksum is recomputed. A null element does nothing.
void list_element_chain_sort(ListElement* element, int32_t ascending, int32_t case_sensitive);
