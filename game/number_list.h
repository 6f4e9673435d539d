// Filling a script list variable with numbers, as the game's list built-ins do.
#pragma once

#include <cstdint>
#include <vector>

struct ListElement;
struct Variable;

// Fills a list variable with numbers (sprite handles and the like): the variable is
// cleared and made a list at once; finish makes the first element current.
class HandleListBuilder {
 public:
  // A null list only counts.
  explicit HandleListBuilder(Variable* list);
  // Appends an element holding the number; false when out of memory (nothing added).
  bool add(double number);
  // Loads the first element into the variable; the number of elements added.
  int32_t finish();

 private:
  Variable* list_;
  ListElement* first_ = nullptr;
  ListElement* last_ = nullptr;
  int32_t count_ = 0;
};

// Clears the variable and makes it a list with one element per number, each with its
// checksum, the first element current and loaded. The number of elements; a null
// variable takes nothing and gives 0.
int32_t fill_number_list(Variable* variable, const std::vector<double>& numbers);
