// Menus of forms: the shell menu bar's drop-down menus and image buttons, the items and
// sub-menus of drop-down menus, item captions, and accelerator tables built from lists.
#pragma once

// Registers the menu built-ins.
void register_menu_builtins();

void builtin_newmenu();
void builtin_newbutton();
void builtin_newsubmenu();
void builtin_newmenuitem();
void builtin_mainmenu();
void builtin_newmainmenu();
void builtin_menucaption();
void builtin_createacceltable();
