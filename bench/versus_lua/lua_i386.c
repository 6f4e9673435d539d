/* A bare Lua 5.4 interpreter built as an i386 program: on a host that runs i386 programs
   through an emulator, Lua runs through the same emulator as zrk, so the ratio compares
   like with like. Runs the one file it is given with the standard libraries. */
#include <stdio.h>
#include <lauxlib.h>
#include <lualib.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.lua\n", argv[0]);
        return 2;
    }
    lua_State *state = luaL_newstate();
    luaL_openlibs(state);
    if (luaL_dofile(state, argv[1]) != LUA_OK) {
        fprintf(stderr, "%s\n", lua_tostring(state, -1));
        lua_close(state);
        return 1;
    }
    lua_close(state);
    return 0;
}
