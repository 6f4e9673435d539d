// Storage of the switches and entry points shared between operator units.
#include "vm/operator_hooks.h"

uint8_t push_after_assign = 0;
int (*elementwise_operator_hook)(char code, ValueCell* left, ValueCell* right) = nullptr;
int (*elementwise_push_scalar_hook)(char code, ValueCell* list, double number) = nullptr;
void (*packed_list_variable_step_hook)(Variable* variable, char code, double number) = nullptr;
