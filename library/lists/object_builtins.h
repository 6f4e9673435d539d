// Objects and classes for scripts: creating objects and typed references (the built-ins
// compiled code emits for class syntax), destroying them, and asking about classes and
// about what a variable holds.
#pragma once

// __class(class, variable): variable becomes the owner of a new object of the class,
// whose "__INIT(0,0)" then runs. An object the variable owned before is destroyed.
void builtin_class_create_object();
// newobject(variable, class, address): address 0 as __class; otherwise variable becomes
// a reference of the class to the object at address (no constructor runs).
void builtin_newobject();
// __classcreate(variable): runs the class's "CREATE(0,0)" on the variable's object with
// the arguments given after the "__SAVESP2" pair; the pair and any arguments left over
// are dropped whether or not the class has such a method.
void builtin_class_run_create();
// __class2(class, variable): types the variable with the class as a reference to the
// object its number holds. A variable that owned its object keeps owning it.
void builtin_class_type_variable();
// __class3(class, object) and __class4: "__STACKTEMPOBJECT$" (next to the object's
// variable) becomes a reference of the class to the object; __class4 drops the
// temporary's old data first. Nothing is pushed.
void builtin_class_type_temporary();
void builtin_class_retype_temporary();
// class(object): the object's class name as a text; 0 for address 0.
void builtin_class();
// freeobject(objects...): destroys each object a variable holds (its destructor runs and
// its members are released); an argument that is not an object variable is taken as
// an object's address.
void builtin_freeobject();
// isobject / isarray / ismatrix / isstruct (variables...): how many of the arguments
// hold an object / have array elements / hold a packed list / are structures.
void builtin_isobject();
void builtin_isarray();
void builtin_ismatrix();
void builtin_isstruct();
// ispointer(value): 1 when the value is a block on the reference list of its variable's
// owner (or of the variable itself); 0 otherwise and for an argument without variable.
void builtin_ispointer();
// alloceval(): the address of a new empty scope head for evaluated code.
void builtin_alloceval();
// freeeval(scope): releases every variable of the scope made by alloceval and frees it.
void builtin_freeeval();
// classes(list): the list holds the program's class names, newest first; their count.
void builtin_classes();
// classinherit(class): the parent class's name; 0 for an unknown class or none.
void builtin_classinherit();
// is(object, class): 1 when the object's class is the class or descends from it.
void builtin_is();

// Registers the built-ins above by their script names.
void register_object_builtins();
