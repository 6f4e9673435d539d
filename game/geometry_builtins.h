// The geometry, trigonometry and tile-grid built-ins.
#pragma once

// angle + increment brought into 0..period (both ends included); a sum that is not
// finite gives NaN.
double wrap_angle(double sum, double period);

void builtin_distance();
void builtin_middle();
void builtin_angle();
void builtin_incangle();
void builtin_incanglerad();
void builtin_torad();
void builtin_todeg();
void builtin_cos256();
void builtin_sin256();
void builtin_cos360();
void builtin_sin360();
void builtin_adjustxy();
void builtin_toiso();
void builtin_drawgrid();

// Registers the built-ins above by their script names.
void register_geometry_builtins();
