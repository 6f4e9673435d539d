// The value of one expression of the script language, compiled and run where the caller
// stands: its scope, its variables, its value stack. Text interpolation and the
// debugger's TRACE view read values this way.
#pragma once

#include <string>

#include "vm/expression_value.h"


// Compiles and runs expression in the running program's scope. A bare expression is no
// statement of the language, so it runs as the argument of a hidden built-in that copies
// its value while that value is alive; a name of a program file runs that file instead.
// Whatever the run leaves on the caller's stack is taken off again.
ExpressionValue evaluate_expression(const std::string& expression);

// The hidden built-in, registered with the run built-ins.
void builtin_expression_value();
constexpr const char* kExpressionValueName = "__expressionvalue";
