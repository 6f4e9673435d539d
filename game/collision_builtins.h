// The collision query built-ins: collide, rectcollide, collides and rectcollides.
#pragma once

void builtin_collide();
void builtin_rectcollide();
void builtin_collides();
void builtin_rectcollides();

// Registers the built-ins above by their script names.
void register_collision_builtins();
