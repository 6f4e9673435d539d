// The table of every built-in name in registration order, and the registration that
// binds each name to its unit's handler or to a placeholder naming it.
#include "app/builtin_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "compiler/asm/asm_builtins.h"
#include "compiler/driver/run_builtins.h"
#include "compiler/keywords.h"
#include "foundation/hashes.h"
#include "gui/controls.h"
#include "gui/gui.h"
#include "gui/menus.h"
#include "library/core/system_builtins.h"
#include "library/files/printf_builtins.h"
#include "library/strings/checksum_builtins.h"
#include "library/strings/maths_builtins.h"
#include "library/files/device_builtins.h"
#include "library/lists/object_builtins.h"
#include "foundation/runtime_error.h"
#include "library/files/file_builtins.h"
#include "library/files/tokenizer_builtins.h"
#include "library/files/package_builtins.h"
#include "library/regex/regex_builtins.h"
#include "library/strings/text_kind_builtins.h"
#include "library/strings/number_conversion_builtins.h"
#include "library/strings/string_builtins.h"
#include "library/strings/string_editing_builtins.h"
#include "library/strings/trim_pad_builtins.h"
#include "game/game_builtins.h"
#include "game/game_display.h"
#include "game/game_drawing.h"
#include "game/game_loop.h"
#include "game/particles.h"
#include "game/paths.h"
#include "sound/sound_builtins.h"
#include "vm/applications.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/comparison.h"
#include "vm/compound_assignment.h"
#include "vm/control_flow.h"
#include "vm/debugger_link.h"
#include "vm/declarations.h"
#include "vm/external_call.h"
#include "vm/increment.h"
#include "vm/machine.h"
#include "vm/method_call.h"
#include "foundation/value_stack.h"
#include "library/core/memory_builtins.h"
#include "library/lists/conversion_builtins.h"
#include "library/lists/enumeration_builtins.h"
#include "library/lists/list_builtins.h"
#include "library/lists/list_sort_builtins.h"
#include "library/lists/packed_list_builtins.h"
#include "library/core/array_builtins.h"
#include "library/core/structure_builtins.h"
#include "library/core/variable_builtins.h"
#include "library/core/service_builtins.h"
#include "library/com/activex_builtins.h"
#include "library/com/com_builtins.h"
#include "vm/procedure_call.h"
#include "vm/profiler.h"
#include "vm/push_instructions.h"
#include "vm/script_threads.h"
#include "vm/stack_builtins.h"
#include "app/startup.h"

namespace {

constexpr BuiltinTableRow kRows[] = {
    {"IF", kVariadic, 0, 0, true},
    {"__ELSEIF", kVariadic, 0, 0, true},
    {"ELSE", kFixed, 0, 0, true},
    {"REPEAT", kFixed, 0, 0, true},
    {"UNTIL", kVariadic, 0, 0, true},
    {"WHILE", kVariadic, 0, 0, true},
    {"FOREACH", kVariadic, 0, 0, true},
    {"FOREACHREV", kVariadic, 0, 0, true},
    {"FOR", kVariadic, 0, 0, true},
    {"END", kFixed, 0, 0, true},
    {"CASE", kVariadic, 0, 0, true},
    {"RETURN", kVariadicSaved, 0, 0, true},
    {"BREAK", kFixed, 0, 0, true},
    {"CONTINUE", kFixed, 0, 0, true},
    {"__debug", kFixed, 0, 0, false},
    {"__profile", kFixed, 2, 0, false},
    {"LOCAL", kVariadicSaved, 0, 0, false},
    {"GLOBAL", kVariadicSaved, 0, 0, false},
    {"NGLOBAL", kVariadicSaved, 0, 0, false},
    {"PROTECT", kVariadicSaved, 0, 0, false},
    {"UNPROTECT", kVariadicSaved, 0, 0, false},
    {"STATIC", kVariadicSaved, 0, 0, false},
    {"HALT", kFixed, 0, 0, false},
    {"EXIT", kFixed, 0, 0, false},
    {"__dropfctstack", kFixed, 0, 0, false},
    {"__dropallfctstack", kFixed, 0, 0, false},
    {"__enddecl", kFixed, 0, 0, true},
    {"__enddecl2", kFixed, 0, 0, true},
    {"__MAKEMATRIX", kVariadicSaved, 0, 1, false},
    {"TRY", kFixed, 0, 0, true},
    {"EXCEPT", kFixed, 0, 0, true},
    {"FINALLY", kFixed, 0, 0, true},
    {"__NOEXPLICITCHECK", kFixed, 0, 0, false},
    {"ReadWrite", kFixed, 3, 0, false},
    {"ADDEVENT", kFixed, 4, 0, false},
    {"CLEAREVENTS", kFixed, 1, 0, false},
    {"__controltoclipboard", kFixed, 1, 0, false},
    {"QuietMode", kFixed, 1, 0, false},
    {"run", kFixed, 1, 1, false},
    {"runex", kFixed, 1, 1, false},
    {"runfile", kFixed, 1, 1, false},
    {"runfileex", kFixed, 1, 1, false},
    {"compile", kFixed, 1, 0, false},
    {"eval", kFixed, 3, 1, false},
    {"alloceval", kFixed, 0, 1, false},
    {"freeeval", kFixed, 1, 0, false},
    {"makeexe", kFixed, 3, 0, false},
    {"debug", kFixed, 1, 0, false},
    {"currentline", kFixed, 0, 1, false},
    {"currentfilename", kFixed, 0, 1, false},
    {"curproc", kFixed, 0, 1, false},
    {"getproc", kFixed, 2, 1, false},
    {"getprocex", kFixed, 4, 1, false},
    {"call", kVariadicSaved, 0, 1, false},
    {"findapp", kFixed, 1, 1, false},
    {"killapp", kFixed, 1, 0, false},
    {"freeapp", kFixed, 1, 0, false},
    {"appname", kFixed, 1, 1, false},
    {"appsize", kFixed, 1, 1, false},
    {"appbuffer", kFixed, 1, 1, false},
    {"appform", kFixed, 1, 1, false},
    {"appuniqueid", kFixed, 1, 1, false},
    {"asm", kFixed, 2, 1, false},
    {"doasm", kVariadicSaved, 0, 0, false},
    {"callasm", kVariadicSaved, 0, 0, false},
    {"freeasm", kFixed, 1, 0, false},
    {"=", kFixed, 0, 0, false},
    {"M=", kFixed, 0, 0, false},
    {"==", kFixed, 0, 0, false},
    {"<>", kFixed, 0, 0, false},
    {">", kFixed, 0, 0, false},
    {"<", kFixed, 0, 0, false},
    {"<<", kFixed, 0, 0, false},
    {">>", kFixed, 0, 0, false},
    {">=", kFixed, 0, 0, false},
    {"<=", kFixed, 0, 0, false},
    {"@", kFixed, 0, 0, false},
    {"__savesp", kFixed, 0, 0, false},
    {"__savesp2", kFixed, 0, 0, false},
    {"__offset", kFixed, 0, 0, false},
    {"__offset1", kFixed, 0, 0, false},
    {"__set_push", kFixed, 0, 0, false},
    {"import", kFixed, 0, 0, false},
    {"__offsetvar", kFixed, 0, 0, false},
    {"countstack", kFixed, 1, 0, false},
    {"dupstack", kFixed, 0, 0, false},
    {"dropstack", kFixed, 0, 0, false},
    {"clearstack", kFixed, 0, 0, false},
    {"push", kVariadicSaved, 0, 0, false},
    {"pull", kVariadicSaved, 0, 0, false},
    {"new", kFixed, 2, 1, false},
    {"wnew", kFixed, 2, 1, false},
    {"resize", kFixed, 2, 0, false},
    {"free", kVariadicSaved, 0, 0, false},
    {"malloc", kFixed, 1, 1, false},
    {"memset", kFixed, 3, 1, false},
    {"ptr", kFixed, 1, 1, false},
    {"memmove", kFixed, 3, 1, false},
    {"memchr", kFixed, 3, 1, false},
    {"memcpy", kFixed, 3, 1, false},
    {"memsize", kFixed, 1, 1, false},
    {"memcmp", kFixed, 3, 1, false},
    {"sizeof", kFixed, 1, 1, false},
    {"size", kFixed, 1, 1, false},
    {"addr", kFixed, 1, 1, false},
    {"peek", kFixed, 2, 1, false},
    {"poke", kFixed, 3, 0, false},
    {"isnull", kFixed, 1, 1, false},
    {"mmcreate", kFixed, 1, 1, false},
    {"mmdestroy", kFixed, 1, 0, false},
    {"mmalloc", kFixed, 2, 1, false},
    {"mmfree", kFixed, 2, 0, false},
    {"clear", kVariadicSaved, 0, 0, false},
    {"struct", kVariadicSaved, 0, 0, false},
    {"restruct", kVariadicSaved, 0, 0, false},
    {"type", kVariadicSaved, 0, 0, false},
    {"columnmajor", kVariadicSaved, 0, 0, false},
    {"rowmajor", kVariadicSaved, 0, 0, false},
    {"dim", kVariadicSaved, 0, 0, false},
    {"sdim", kVariadicSaved, 0, 0, false},
    {"tdim", kVariadicSaved, 0, 0, false},
    {"redim", kVariadicSaved, 0, 0, false},
    {"getvar", kFixed, 1, 1, false},
    {"setvar", kFixed, 2, 0, false},
    {"varexists", kFixed, 1, 1, false},
    {"isvalidvar", kFixed, 1, 1, false},
    {"vartype", kFixed, 1, 1, false},
    {"vmax", kFixed, 1, 1, false},
    {"empty", kVariadicSaved, 0, 0, false},
    {"islist", kVariadicSaved, 0, 1, false},
    {"isarray", kVariadicSaved, 0, 1, false},
    {"ismatrix", kVariadicSaved, 0, 1, false},
    {"isobject", kVariadicSaved, 0, 1, false},
    {"isstruct", kVariadicSaved, 0, 1, false},
    {"ispointer", kFixed, 1, 1, false},
    {"mcount", kFixed, 2, 1, false},
    {"mtype", kFixed, 1, 1, false},
    {"madd", kFixed, 2, 1, false},
    {"mdel", kFixed, 3, 1, false},
    {"mmid", kFixed, 3, 1, false},
    {"__class", kFixed, 2, 0, false},
    {"__classcreate", kFixed, 1, 0, false},
    {"__class2", kFixed, 2, 0, false},
    {"__class3", kFixed, 2, 0, false},
    {"__class4", kFixed, 2, 0, false},
    {"newobject", kFixed, 3, 0, false},
    {"public", kVariadicSaved, 0, 0, false},
    {"private", kVariadicSaved, 0, 0, false},
    {"freeobject", kVariadicSaved, 0, 0, false},
    {"assign", kFixed, 2, 0, false},
    {"classes", kFixed, 1, 1, false},
    {"classinherit", kFixed, 1, 1, false},
    {"objcall", kVariadicSaved, 0, 0, false},
    {"objaddr", kFixed, 1, 1, false},
    {"class", kFixed, 1, 1, false},
    {"is", kFixed, 2, 1, false},
    {"handlemessage", kFixed, 0, 0, false},
    {"processmessages", kFixed, 0, 0, false},
    {"+", kFixed, 0, 0, false},
    {"-", kFixed, 0, 0, false},
    {"++", kFixed, 0, 0, false},
    {"--", kFixed, 0, 0, false},
    {"++2", kFixed, 0, 0, false},
    {"--2", kFixed, 0, 0, false},
    {"*", kFixed, 0, 0, false},
    {"/", kFixed, 0, 0, false},
    {"+=", kFixed, 0, 0, false},
    {"-=", kFixed, 0, 0, false},
    {"*=", kFixed, 0, 0, false},
    {"/=", kFixed, 0, 0, false},
    {"|=", kFixed, 0, 0, false},
    {"&=", kFixed, 0, 0, false},
    {"^=", kFixed, 0, 0, false},
    {"and", kFixed, 0, 0, false},
    {"or", kFixed, 0, 0, false},
    {"xor", kFixed, 0, 0, false},
    {"div", kFixed, 0, 0, false},
    {"mod", kFixed, 0, 0, false},
    {"asl", kFixed, 0, 0, false},
    {"asr", kFixed, 0, 0, false},
    {"shl", kFixed, 0, 0, false},
    {"shr", kFixed, 0, 0, false},
    {"not", kFixed, 1, 1, false},
    {"&", kFixed, 0, 0, false},
    {"|", kFixed, 0, 0, false},
    {"^", kFixed, 0, 0, false},
    {"~", kFixed, 0, 0, false},
    {"abs", kFixed, 1, 1, false},
    {"acos", kFixed, 1, 1, false},
    {"asin", kFixed, 1, 1, false},
    {"atan", kFixed, 1, 1, false},
    {"atan2", kFixed, 2, 1, false},
    {"cos", kFixed, 1, 1, false},
    {"cosh", kFixed, 1, 1, false},
    {"exp", kFixed, 1, 1, false},
    {"log", kFixed, 1, 1, false},
    {"log10", kFixed, 1, 1, false},
    {"pow", kFixed, 2, 1, false},
    {"rand", kFixed, 0, 1, false},
    {"random", kFixed, 1, 1, false},
    {"randomset", kVariadicSaved, 0, 1, false},
    {"sin", kFixed, 1, 1, false},
    {"sinh", kFixed, 1, 1, false},
    {"sqrt", kFixed, 1, 1, false},
    {"srand", kFixed, 1, 0, false},
    {"tan", kFixed, 1, 1, false},
    {"tanh", kFixed, 1, 1, false},
    {"chgsign", kFixed, 1, 1, false},
    {"hypot", kFixed, 2, 1, false},
    {"lrotl", kFixed, 2, 1, false},
    {"lrotr", kFixed, 2, 1, false},
    {"rotl", kFixed, 2, 1, false},
    {"rotr", kFixed, 2, 1, false},
    {"makelong", kFixed, 2, 1, false},
    {"makeword", kFixed, 2, 1, false},
    {"hiword", kFixed, 1, 1, false},
    {"loword", kFixed, 1, 1, false},
    {"hibyte", kFixed, 1, 1, false},
    {"lobyte", kFixed, 1, 1, false},
    {"hi", kFixed, 1, 1, false},
    {"lo", kFixed, 1, 1, false},
    {"ceil", kFixed, 1, 1, false},
    {"floor", kFixed, 1, 1, false},
    {"round", kFixed, 1, 1, false},
    {"roundex", kFixed, 2, 1, false},
    {"trunc", kFixed, 1, 1, false},
    {"truncex", kFixed, 2, 1, false},
    {"validint", kVariadicSaved, 0, 1, false},
    {"wrap", kFixed, 4, 1, false},
    {"min", kVariadicSaved, 0, 1, false},
    {"max", kVariadicSaved, 0, 1, false},
    {"list", kVariadicSaved, 0, 0, false},
    {"add", kVariadicSaved, 0, 0, false},
    {"addlist", kVariadicSaved, 0, 0, false},
    {"del", kVariadicSaved, 0, 0, false},
    {"ins", kVariadicSaved, 0, 0, false},
    {"lmove", kFixed, 3, 1, false},
    {"count", kVariadicSaved, 0, 1, false},
    {"next", kVariadicSaved, 0, 1, false},
    {"prev", kVariadicSaved, 0, 1, false},
    {"first", kVariadicSaved, 0, 1, false},
    {"last", kVariadicSaved, 0, 1, false},
    {"isfirst", kVariadicSaved, 0, 1, false},
    {"islast", kVariadicSaved, 0, 1, false},
    {"lpos", kFixed, 1, 1, false},
    {"goto", kFixed, 2, 1, false},
    {"lcopy", kFixed, 2, 0, false},
    {"lcopyex", kFixed, 4, 0, false},
    {"copy", kFixed, 2, 0, false},
    {"pop", kFixed, 1, 1, false},
    {"find", kFixed, 8, 1, false},
    {"delall", kFixed, 6, 1, false},
    {"split", kFixed, 3, 1, false},
    {"sort", kFixed, 3, 0, false},
    {"ltype", kFixed, 1, 1, false},
    {"applications", kFixed, 1, 1, false},
    {"forms", kFixed, 2, 1, false},
    {"enumwindows", kFixed, 1, 1, false},
    {"enumfontfamilies", kFixed, 3, 1, false},
    {"arraytolist", kFixed, 2, 1, false},
    {"listtoarray", kFixed, 2, 1, false},
    {"tlisttoarray", kFixed, 2, 1, false},
    {"strtolist", kFixed, 3, 1, false},
    {"strtolistint", kFixed, 3, 1, false},
    {"strtolistex", kFixed, 3, 1, false},
    {"strtolistintex", kFixed, 3, 1, false},
    {"listtostr", kFixed, 4, 1, false},
    {"structtolist", kFixed, 2, 1, false},
    {"listtostruct", kFixed, 2, 1, false},
    {"structdeftolist", kFixed, 2, 1, false},
    {"carraytolist", kFixed, 3, 1, false},
    {"functions", kFixed, 2, 1, false},
    {"variables", kFixed, 2, 1, false},
    {"matrixtoarray", kFixed, 2, 1, false},
    {"matrixtostr", kFixed, 1, 1, false},
    {"strtomatrix", kFixed, 1, 1, false},
    {"strtoarray", kFixed, 3, 1, false},
    {"strtoarrayint", kFixed, 3, 1, false},
    {"strtoarrayex", kFixed, 3, 1, false},
    {"strtoarrayintex", kFixed, 3, 1, false},
    {"arraytostr", kFixed, 4, 1, false},
    {"setint", kFixed, 2, 0, false},
    {"getint", kFixed, 1, 1, false},
    {"setbyte", kFixed, 2, 0, false},
    {"getbyte", kFixed, 1, 1, false},
    {"setshort", kFixed, 2, 0, false},
    {"getshort", kFixed, 1, 1, false},
    {"setdouble", kFixed, 2, 0, false},
    {"getdouble", kFixed, 1, 1, false},
    {"freecarray", kFixed, 2, 0, false},
    {"fill", kVariadicSaved, 0, 1, false},
    {"isvalid", kFixed, 1, 1, false},
    {"int", kFixed, 1, 1, false},
    {"str", kFixed, 1, 1, false},
    {"wstr", kFixed, 1, 1, false},
    {"fstr", kFixed, 1, 1, false},
    {"mid", kFixed, 3, 1, false},
    {"concat", kVariadicSaved, 0, 1, false},
    {"%", kFixed, 0, 0, false},
    {"length", kFixed, 1, 1, false},
    {"delete", kFixed, 3, 0, false},
    {"insert", kFixed, 3, 0, false},
    {"replace", kFixed, 3, 0, false},
    {"pos", kFixed, 2, 1, false},
    {"rpos", kFixed, 2, 1, false},
    {"npos", kFixed, 3, 1, false},
    {"cpos", kFixed, 2, 1, false},
    {"crc16", kFixed, 2, 1, false},
    {"crc32", kFixed, 2, 1, false},
    {"hash", kFixed, 3, 1, false},
    {"isalnum", kFixed, 1, 1, false},
    {"isalpha", kFixed, 1, 1, false},
    {"iscntrl", kFixed, 1, 1, false},
    {"isdigit", kFixed, 1, 1, false},
    {"islower", kFixed, 1, 1, false},
    {"isprint", kFixed, 1, 1, false},
    {"ispunct", kFixed, 1, 1, false},
    {"isspace", kFixed, 1, 1, false},
    {"isupper", kFixed, 1, 1, false},
    {"chr", kFixed, 1, 1, false},
    {"wchr", kFixed, 1, 1, false},
    {"upper", kFixed, 1, 1, false},
    {"lower", kFixed, 1, 1, false},
    {"wide", kFixed, 1, 1, false},
    {"char", kFixed, 1, 1, false},
    {"evalstring", kFixed, 1, 1, false},
    {"apichar", kFixed, 1, 1, false},
    {"dup", kFixed, 1, 1, false},
    {"iswide", kFixed, 1, 1, false},
    {"loadstr", kFixed, 2, 1, false},
    {"wloadstr", kFixed, 2, 1, false},
    {"loadstrex", kFixed, 4, 1, false},
    {"wloadstrex", kFixed, 4, 1, false},
    {"savestr", kFixed, 3, 0, false},
    {"wsavestr", kFixed, 3, 0, false},
    {"extractfilename", kFixed, 1, 1, false},
    {"extractfilepath", kFixed, 1, 1, false},
    {"extractfiledrive", kFixed, 1, 1, false},
    {"extractfileext", kFixed, 1, 1, false},
    {"sprintf", kVariadicSaved, 0, 0, false},
    {"printf", kVariadicSaved, 0, 1, false},
    {"encrypt", kFixed, 4, 0, false},
    {"getclip", kFixed, 0, 1, false},
    {"setclip", kFixed, 1, 0, false},
    {"compress", kFixed, 4, 1, false},
    {"uncompress", kFixed, 4, 0, false},
    {"trim", kFixed, 1, 1, false},
    {"ltrim", kFixed, 1, 1, false},
    {"rtrim", kFixed, 1, 1, false},
    {"lpad", kFixed, 3, 1, false},
    {"rpad", kFixed, 3, 1, false},
    {"swapcase", kFixed, 1, 1, false},
    {"reverse", kFixed, 1, 1, false},
    {"capitalize", kFixed, 1, 1, false},
    {"strip", kFixed, 2, 1, false},
    {"change", kFixed, 4, 0, false},
    {"tick", kFixed, 0, 1, false},
    {"showmessage", kVariadicSaved, 0, 0, false},
    {"getfile", kVariadicSaved, 0, 1, false},
    {"putfile", kVariadicSaved, 0, 1, false},
    {"delay", kFixed, 1, 0, false},
    {"makelcid", kFixed, 2, 1, false},
    {"makelangid", kFixed, 2, 1, false},
    {"createthread", kFixed, 5, 1, false},
    {"reset", kFixed, 1, 0, false},
    {"showstatuswindow", kFixed, 1, 0, false},
    {"waitcursor", kFixed, 1, 0, false},
    {"_debuglog", kFixed, 1, 0, false},
    {"fopen", kFixed, 2, 1, false},
    {"fclose", kFixed, 1, 0, false},
    {"fread", kFixed, 4, 1, false},
    {"fwrite", kFixed, 4, 1, false},
    {"fseek", kFixed, 3, 0, false},
    {"readstring", kFixed, 1, 1, false},
    {"writestring", kFixed, 2, 0, false},
    {"ftell", kFixed, 1, 1, false},
    {"feof", kFixed, 1, 1, false},
    {"ferror", kFixed, 1, 1, false},
    {"fflush", kFixed, 1, 1, false},
    {"fgetpos", kFixed, 2, 1, false},
    {"fsetpos", kFixed, 2, 1, false},
    {"filesize", kFixed, 1, 1, false},
    {"fileexists", kFixed, 1, 1, false},
    {"directoryexists", kFixed, 1, 1, false},
    {"newform", kFixed, 3, 1, false},
    {"newformex", kFixed, 9, 1, false},
    {"newdlg", kFixed, 5, 1, false},
    {"showmodal", kFixed, 3, 1, false},
    {"newfont", kFixed, 6, 1, false},
    {"setfont", kFixed, 2, 0, false},
    {"getfont", kFixed, 1, 1, false},
    {"setfontcolor", kFixed, 2, 0, false},
    {"setbackcolor", kFixed, 2, 0, false},
    {"destroywindow", kFixed, 1, 1, false},
    {"showwindow", kFixed, 2, 1, false},
    {"registerclass", kFixed, 2, 0, false},
    {"unregisterclass", kFixed, 1, 0, false},
    {"setuserdata", kFixed, 2, 0, false},
    {"getuserdata", kFixed, 1, 1, false},
    {"inherited", kFixed, 4, 1, false},
    {"getclientrect", kFixed, 2, 1, false},
    {"centerform", kFixed, 1, 0, false},
    {"setwndproc", kFixed, 2, 0, false},
    {"newmenu", kFixed, 3, 1, false},
    {"newbutton", kFixed, 4, 0, false},
    {"newsubmenu", kFixed, 4, 1, false},
    {"newmenuitem", kFixed, 4, 1, false},
    {"menucaption", kFixed, 2, 1, false},
    {"mainmenu", kFixed, 1, 1, false},
    {"newmainmenu", kFixed, 1, 0, false},
    {"createacceltable", kFixed, 2, 0, false},
    {"newcontrol", kFixed, 10, 1, false},
    {"getselstart", kFixed, 1, 1, false},
    {"setselstart", kFixed, 2, 0, false},
    {"getsellength", kFixed, 1, 1, false},
    {"setsellength", kFixed, 2, 0, false},
    {"getseltext", kFixed, 1, 1, false},
    {"setseltext", kFixed, 2, 0, false},
    {"gettext", kFixed, 1, 1, false},
    {"settext", kFixed, 2, 0, false},
    {"gettextline", kFixed, 2, 1, false},
    {"wgetseltext", kFixed, 1, 1, false},
    {"wsetseltext", kFixed, 2, 0, false},
    {"wgettext", kFixed, 1, 1, false},
    {"wsettext", kFixed, 2, 0, false},
    {"wgettextline", kFixed, 2, 1, false},
    {"getitemindex", kFixed, 1, 1, false},
    {"setitemindex", kFixed, 2, 0, false},
    {"getitem", kFixed, 2, 1, false},
    {"setitem", kFixed, 3, 0, false},
    {"wgetitem", kFixed, 2, 1, false},
    {"wsetitem", kFixed, 3, 0, false},
    {"ptinrect", kFixed, 2, 1, false},
    {"RGB", kFixed, 3, 1, false},
    {"g_init", kFixed, 8, 0, false},
    {"g_changeresolution", kFixed, 4, 0, false},
    {"g_shut", kFixed, 1, 0, false},
    {"g_suspend", kFixed, 0, 0, false},
    {"g_resume", kFixed, 0, 0, false},
    {"g_state", kFixed, 0, 1, false},
    {"g_setstate", kFixed, 1, 0, false},
    {"g_setmainloop", kFixed, 1, 0, false},
    {"g_getmainloop", kFixed, 0, 1, false},
    {"g_fillrect", kFixed, 5, 0, false},
    {"g_drawrect", kFixed, 5, 0, false},
    {"g_circle", kFixed, 4, 0, false},
    {"g_floodfill", kFixed, 5, 0, false},
    {"g_line", kFixed, 5, 0, false},
    {"g_clear", kFixed, 1, 0, false},
    {"g_RGB", kFixed, 3, 1, false},
    {"fps", kFixed, 0, 1, false},
    {"avgfps", kFixed, 0, 1, false},
    {"avgpps", kFixed, 0, 1, false},
    {"showfps", kFixed, 2, 0, false},
    {"g_textout", kFixed, 6, 0, false},
    {"g_textoutex", kFixed, 8, 1, false},
    {"g_setpixel", kFixed, 3, 0, false},
    {"g_getpixel", kFixed, 2, 1, false},
    {"g_setclipping", kFixed, 4, 0, false},
    {"g_width", kFixed, 0, 1, false},
    {"g_height", kFixed, 0, 1, false},
    {"g_lock", kFixed, 1, 1, false},
    {"g_unlock", kFixed, 3, 0, false},
    {"g_getdc", kFixed, 1, 1, false},
    {"g_releasedc", kFixed, 2, 0, false},
    {"g_beginscene", kFixed, 0, 0, false},
    {"g_update", kFixed, 0, 0, false},
    {"g_updaterect", kFixed, 4, 0, false},
    {"g_draw", kFixed, 0, 0, false},
    {"g_drawfps", kFixed, 0, 0, false},
    {"g_updatefps", kFixed, 0, 0, false},
    {"g_speed", kFixed, 1, 0, false},
    {"g_autodraw", kFixed, 1, 0, false},
    {"g_mainloop", kFixed, 1, 0, false},
    {"g_mainloop2", kFixed, 1, 0, false},
    {"g_setproc", kFixed, 1, 0, false},
    {"g_proc", kFixed, 0, 1, false},
    {"g_setpaintproc", kFixed, 1, 0, false},
    {"g_paintproc", kFixed, 0, 1, false},
    {"waitforinput", kFixed, 1, 1, false},
    {"g_fonts", kFixed, 1, 0, false},
    {"g_loadfont", kFixed, 5, 1, false},
    {"g_freefont", kVariadicSaved, 0, 0, false},
    {"g_loadvgafont", kFixed, 3, 1, false},
    {"g_loadvgafontfrommem", kFixed, 3, 1, false},
    {"g_freevgafont", kFixed, 1, 0, false},
    {"g_drawtextex", kFixed, 7, 1, false},
    {"g_drawtext", kFixed, 4, 0, false},
    {"g_textwidth", kFixed, 2, 1, false},
    {"g_fontheight", kFixed, 1, 1, false},
    {"g_setblend", kFixed, 1, 0, false},
    {"g_cachetext", kFixed, 4, 1, false},
    {"rendersprites", kFixed, 0, 0, false},
    {"renderspritesex", kFixed, 4, 0, false},
    {"rendersprite", kFixed, 1, 0, false},
    {"loadsprite", kFixed, 5, 1, false},
    {"loadspritefrommem", kFixed, 6, 1, false},
    {"loadspritealpha", kFixed, 2, 0, false},
    {"loadspritealphafrommem", kFixed, 3, 0, false},
    {"setspritealphasurface", kFixed, 2, 0, false},
    {"spritealphasurface", kFixed, 1, 1, false},
    {"replacesprite", kFixed, 6, 1, false},
    {"setspritesurface", kFixed, 4, 0, false},
    {"setspritecolormask", kFixed, 2, 0, false},
    {"spritecolormask", kFixed, 1, 1, false},
    {"delsprite", kFixed, 1, 0, false},
    {"drawsprite", kFixed, 7, 0, false},
    {"movesprite", kFixed, 3, 0, false},
    {"relmovesprite", kFixed, 3, 0, false},
    {"processsprites", kFixed, 2, 0, false},
    {"spritepos", kFixed, 3, 0, false},
    {"setspritex", kFixed, 2, 0, false},
    {"setspritey", kFixed, 2, 0, false},
    {"spritex", kFixed, 1, 1, false},
    {"spritey", kFixed, 1, 1, false},
    {"showsprite", kFixed, 2, 0, false},
    {"spritevisible", kFixed, 1, 1, false},
    {"setspriteangle", kFixed, 2, 0, false},
    {"spriteangle", kFixed, 1, 1, false},
    {"setspritealpha", kFixed, 2, 0, false},
    {"spritealpha", kFixed, 1, 1, false},
    {"setspritewidth", kFixed, 2, 0, false},
    {"spritewidth", kFixed, 1, 1, false},
    {"setspriteheight", kFixed, 2, 0, false},
    {"spriteheight", kFixed, 1, 1, false},
    {"setspriteorder", kFixed, 2, 0, false},
    {"spriteorder", kFixed, 1, 1, false},
    {"sprites", kFixed, 2, 1, false},
    {"spriteat", kFixed, 3, 1, false},
    {"spriteatrect", kFixed, 5, 1, false},
    {"spritesat", kFixed, 4, 1, false},
    {"spritesatrect", kFixed, 6, 1, false},
    {"clearsprites", kFixed, 0, 0, false},
    {"setmapcolor", kFixed, 1, 0, false},
    {"mapcolor", kFixed, 0, 1, false},
    {"setspriteindex", kFixed, 2, 0, false},
    {"spriteindex", kFixed, 1, 1, false},
    {"setspriteanimspeed", kFixed, 2, 0, false},
    {"spriteanimspeed", kFixed, 1, 1, false},
    {"setspriteanimspeedvel", kFixed, 2, 0, false},
    {"spriteanimspeedvel", kFixed, 1, 1, false},
    {"setspritelifetime", kFixed, 2, 0, false},
    {"spritelifetime", kFixed, 1, 1, false},
    {"setspriteframes", kFixed, 5, 0, false},
    {"spritefirstframe", kFixed, 1, 1, false},
    {"spritelastframe", kFixed, 1, 1, false},
    {"setspriteframeloop", kFixed, 2, 0, false},
    {"spriteframeloop", kFixed, 1, 1, false},
    {"setspritecurrentloop", kFixed, 2, 0, false},
    {"spritecurrentloop", kFixed, 1, 1, false},
    {"setspriteproc", kFixed, 2, 0, false},
    {"spriteproc", kFixed, 1, 1, false},
    {"setspritedata", kFixed, 2, 0, false},
    {"spritedata", kFixed, 1, 1, false},
    {"setspritecollide", kFixed, 2, 0, false},
    {"spritecollide", kFixed, 1, 1, false},
    {"setspriteid", kFixed, 2, 0, false},
    {"spriteid", kFixed, 1, 1, false},
    {"setoriginx", kFixed, 1, 0, false},
    {"setoriginy", kFixed, 1, 0, false},
    {"originx", kFixed, 0, 1, false},
    {"originy", kFixed, 0, 1, false},
    {"spriteinview", kFixed, 1, 1, false},
    {"spritesurface", kFixed, 1, 1, false},
    {"clonesprite", kFixed, 1, 1, false},
    {"setspriteoffsetx", kFixed, 2, 0, false},
    {"spriteoffsetx", kFixed, 1, 1, false},
    {"setspriteoffsety", kFixed, 2, 0, false},
    {"spriteoffsety", kFixed, 1, 1, false},
    {"newsprite", kFixed, 1, 1, false},
    {"setspritelayer", kFixed, 2, 0, false},
    {"setspriteparent", kFixed, 2, 0, false},
    {"spriteparent", kFixed, 1, 1, false},
    {"clearspritechildren", kFixed, 1, 0, false},
    {"spritechildren", kFixed, 2, 1, false},
    {"spritelayer", kFixed, 1, 1, false},
    {"setspriteclip", kFixed, 5, 0, false},
    {"setlayer", kFixed, 11, 0, false},
    {"setborder", kFixed, 4, 0, false},
    {"collide", kFixed, 5, 1, false},
    {"rectcollide", kFixed, 7, 1, false},
    {"collides", kFixed, 4, 1, false},
    {"rectcollides", kFixed, 6, 1, false},
    {"setspriterect", kFixed, 2, 0, false},
    {"spriterect", kFixed, 1, 1, false},
    {"setspritecolliderect", kFixed, 5, 0, false},
    {"setspriteoptions", kFixed, 2, 0, false},
    {"addspriteoption", kFixed, 2, 0, false},
    {"delspriteoption", kFixed, 2, 0, false},
    {"spriteoptions", kFixed, 1, 1, false},
    {"offsetsprite", kFixed, 3, 0, false},
    {"setspritetilex", kFixed, 2, 0, false},
    {"spritetilex", kFixed, 1, 1, false},
    {"setspritetiley", kFixed, 2, 0, false},
    {"spritetiley", kFixed, 1, 1, false},
    {"setspriteautooffsetx", kFixed, 2, 0, false},
    {"spriteautooffsetx", kFixed, 1, 1, false},
    {"setspriteautooffsety", kFixed, 2, 0, false},
    {"spriteautooffsety", kFixed, 1, 1, false},
    {"setspriteautoscrollx", kFixed, 2, 0, false},
    {"spriteautoscrollx", kFixed, 1, 1, false},
    {"setspriteautoscrolly", kFixed, 2, 0, false},
    {"spriteautoscrolly", kFixed, 1, 1, false},
    {"setspriteaispeed", kFixed, 2, 0, false},
    {"spriteaispeed", kFixed, 1, 1, false},
    {"calcpixelcheck", kFixed, 1, 0, false},
    {"setbacksprite", kFixed, 1, 0, false},
    {"drawbacksprite", kFixed, 0, 0, false},
    {"delsprites", kFixed, 1, 1, false},
    {"setspritemap", kFixed, 2, 0, false},
    {"delmapsprites", kFixed, 1, 1, false},
    {"setspritealtindex", kFixed, 2, 0, false},
    {"spritealtindex", kFixed, 1, 1, false},
    {"setspritealtalpha", kFixed, 2, 0, false},
    {"spritealtalpha", kFixed, 1, 1, false},
    {"setspritealtradius", kFixed, 2, 0, false},
    {"spritealtradius", kFixed, 1, 1, false},
    {"spritecanmovex", kFixed, 1, 1, false},
    {"spritecanmovey", kFixed, 1, 1, false},
    {"setaispeed", kFixed, 3, 0, false},
    {"adjustspriterect", kFixed, 1, 0, false},
    {"gamecollide", kFixed, 1, 0, false},
    {"setcollisiongrid", kFixed, 3, 0, false},
    {"setgridcells", kFixed, 5, 0, false},
    {"cleargridcells", kFixed, 4, 0, false},
    {"delgridcells", kFixed, 5, 0, false},
    {"setspritetimer", kFixed, 4, 0, false},
    {"killspritetimer", kFixed, 2, 0, false},
    {"pausespritetimer", kFixed, 3, 0, false},
    {"spritetimer", kFixed, 2, 1, false},
    {"spriteframecount", kFixed, 1, 1, false},
    {"setspriteframecount", kFixed, 2, 0, false},
    {"spritedefaultwidth", kFixed, 1, 1, false},
    {"spritedefaultheight", kFixed, 1, 1, false},
    {"scalesprite", kFixed, 2, 0, false},
    {"setspritecolor", kFixed, 2, 0, false},
    {"spritecolor", kFixed, 1, 1, false},
    {"setmaplight", kFixed, 1, 0, false},
    {"setspritetint", kFixed, 2, 0, false},
    {"spritetint", kFixed, 1, 1, false},
    {"setspritetintlevel", kFixed, 2, 0, false},
    {"spritetintlevel", kFixed, 1, 1, false},
    {"setspritelight", kFixed, 2, 0, false},
    {"spritelight", kFixed, 1, 1, false},
    {"setspritelightradius", kFixed, 2, 0, false},
    {"spritelightradius", kFixed, 1, 1, false},
    {"issprite", kFixed, 1, 1, false},
    {"errorsprite", kFixed, 0, 1, false},
    {"getkeylist", kFixed, 1, 0, false},
    {"flushsprites", kFixed, 0, 1, false},
    {"setspriteisoheight", kFixed, 2, 0, false},
    {"spriteisoheight", kFixed, 1, 1, false},
    {"setisodisplay", kFixed, 1, 0, false},
    {"drawgrid", kFixed, 4, 0, false},
    {"g_drawlist", kFixed, 2, 0, false},
    {"explode", kFixed, 4, 1, false},
    {"setspritemass", kFixed, 2, 0, false},
    {"spritemass", kFixed, 1, 1, false},
    {"setspritegravity", kFixed, 2, 0, false},
    {"spritegravity", kFixed, 1, 1, false},
    {"setspritefriction", kFixed, 2, 0, false},
    {"spritefriction", kFixed, 1, 1, false},
    {"setspriteelasticity", kFixed, 2, 0, false},
    {"spriteelasticity", kFixed, 1, 1, false},
    {"setspritephysic", kFixed, 5, 0, false},
    {"setgravity", kFixed, 1, 0, false},
    {"gravity", kFixed, 0, 1, false},
    {"setfriction", kFixed, 1, 0, false},
    {"friction", kFixed, 0, 1, false},
    {"setspritedirection", kFixed, 3, 0, false},
    {"spritedirection", kFixed, 1, 1, false},
    {"spritevelocity", kFixed, 1, 1, false},
    {"setspritevelocity", kFixed, 2, 0, false},
    {"spriteaccel", kFixed, 1, 1, false},
    {"setspriteaccel", kFixed, 2, 0, false},
    {"setspritevelx", kFixed, 2, 0, false},
    {"spritevelx", kFixed, 1, 1, false},
    {"setspritevely", kFixed, 2, 0, false},
    {"spritevely", kFixed, 1, 1, false},
    {"setspritevellimits", kFixed, 3, 0, false},
    {"spritevellimitlow", kFixed, 1, 1, false},
    {"spritevellimithigh", kFixed, 1, 1, false},
    {"newparticle", kFixed, 13, 1, false},
    {"renderparticles", kFixed, 1, 0, false},
    {"processparticles", kFixed, 1, 0, false},
    {"clearparticles", kFixed, 1, 0, false},
    {"countparticles", kFixed, 1, 1, false},
    {"particles", kFixed, 2, 1, false},
    {"setparticle", kFixed, 6, 0, false},
    {"setparticlecollide", kFixed, 2, 0, false},
    {"delparticle", kFixed, 1, 0, false},
    {"particlex", kFixed, 1, 1, false},
    {"setparticlex", kFixed, 2, 0, false},
    {"particley", kFixed, 1, 1, false},
    {"setparticley", kFixed, 2, 0, false},
    {"particlevelx", kFixed, 1, 1, false},
    {"setparticlevelx", kFixed, 2, 0, false},
    {"particlevely", kFixed, 1, 1, false},
    {"setparticlevely", kFixed, 2, 0, false},
    {"particleaccx", kFixed, 1, 1, false},
    {"setparticleaccx", kFixed, 2, 0, false},
    {"particleaccy", kFixed, 1, 1, false},
    {"setparticleaccy", kFixed, 2, 0, false},
    {"particlecycle", kFixed, 1, 1, false},
    {"setparticlecycle", kFixed, 2, 0, false},
    {"particlemaxcycle", kFixed, 1, 1, false},
    {"setparticlemaxcycle", kFixed, 2, 0, false},
    {"particleindex", kFixed, 1, 1, false},
    {"setparticleindex", kFixed, 2, 0, false},
    {"particleloop", kFixed, 1, 1, false},
    {"setparticleloop", kFixed, 2, 0, false},
    {"particlesprite", kFixed, 1, 1, false},
    {"setparticlesprite", kFixed, 2, 0, false},
    {"particlealpha", kFixed, 1, 1, false},
    {"setparticlealpha", kFixed, 2, 0, false},
    {"particleangle", kFixed, 1, 1, false},
    {"setparticleangle", kFixed, 2, 0, false},
    {"particleoptions", kFixed, 1, 1, false},
    {"setparticleoptions", kFixed, 2, 0, false},
    {"gameparticles", kFixed, 2, 0, false},
    {"newpath", kFixed, 5, 1, false},
    {"setpath", kFixed, 5, 0, false},
    {"delpath", kFixed, 1, 0, false},
    {"clearpaths", kFixed, 0, 0, false},
    {"paths", kFixed, 1, 1, false},
    {"renderpaths", kFixed, 0, 0, false},
    {"newsurface", kFixed, 2, 1, false},
    {"freesurface", kVariadicSaved, 0, 0, false},
    {"setrendertarget", kFixed, 1, 1, false},
    {"loadsurface", kFixed, 2, 1, false},
    {"loadsurfacefrommem", kFixed, 3, 1, false},
    {"savesurface", kFixed, 2, 0, false},
    {"drawsurfaceex", kFixed, 24, 0, false},
    {"drawsurface", kFixed, 6, 0, false},
    {"drawsurface2", kFixed, 11, 0, false},
    {"drawsurface3", kFixed, 12, 0, false},
    {"surfacewidth", kFixed, 1, 1, false},
    {"surfaceheight", kFixed, 1, 1, false},
    {"setcolormask", kFixed, 2, 0, false},
    {"colormask", kFixed, 1, 1, false},
    {"copysurface", kFixed, 2, 0, false},
    {"clonesurface", kFixed, 1, 1, false},
    {"resizesurface", kFixed, 3, 1, false},
    {"distance", kFixed, 4, 1, false},
    {"middle", kFixed, 6, 0, false},
    {"cos256", kFixed, 1, 1, false},
    {"sin256", kFixed, 1, 1, false},
    {"cos360", kFixed, 1, 1, false},
    {"sin360", kFixed, 1, 1, false},
    {"angle", kFixed, 4, 1, false},
    {"incangle", kFixed, 2, 1, false},
    {"incanglerad", kFixed, 2, 1, false},
    {"torad", kFixed, 1, 1, false},
    {"todeg", kFixed, 1, 1, false},
    {"adjustxy", kFixed, 5, 0, false},
    {"pause", kFixed, 1, 0, false},
    {"toiso", kFixed, 6, 0, false},
    {"s_init", kFixed, 5, 0, false},
    {"s_shut", kFixed, 0, 0, false},
    {"loadsound", kFixed, 2, 1, false},
    {"loadsoundfrommem", kFixed, 3, 1, false},
    {"playsound", kFixed, 1, 0, false},
    {"pausesound", kFixed, 1, 0, false},
    {"resumesound", kFixed, 1, 0, false},
    {"stopsound", kFixed, 1, 0, false},
    {"soundstate", kFixed, 1, 1, false},
    {"volume", kFixed, 1, 1, false},
    {"setvolume", kFixed, 2, 0, false},
    {"frequency", kFixed, 1, 1, false},
    {"setfrequency", kFixed, 2, 0, false},
    {"pan", kFixed, 1, 1, false},
    {"setpan", kFixed, 2, 0, false},
    {"loop", kFixed, 1, 1, false},
    {"setloop", kFixed, 2, 0, false},
    {"freesound", kFixed, 1, 0, false},
    {"s_bufferlength", kFixed, 1, 0, false},
    {"CreateCOMObject", kFixed, 1, 1, false},
    {"FreeCOMObject", kVariadicSaved, 0, 0, false},
    {"QueryInterface", kFixed, 2, 1, false},
    {"CreateCOMObjectFrom", kFixed, 1, 1, false},
    {"GetProperty", kVariadicSaved, 0, 1, false},
    {"SetProperty", kVariadicSaved, 0, 1, false},
    {"Invoke", kVariadicSaved, 0, 1, false},
    {"Dispatch", kFixed, 1, 1, false},
    {"COMMethods", kFixed, 2, 1, false},
    {"COMProperties", kFixed, 2, 1, false},
    {"COMInfo", kFixed, 4, 0, false},
    {"COMObjects", kFixed, 2, 1, false},
    {"COMLoadTypeLib", kFixed, 1, 1, false},
    {"RegisterDLL", kFixed, 1, 1, false},
    {"ActiveX", kFixed, 7, 1, false},
    {"FreeActiveX", kVariadicSaved, 0, 0, false},
    {"SetActiveXPos", kFixed, 5, 0, false},
    {"ActiveXObject", kFixed, 1, 1, false},
    {"ActiveXEvents", kFixed, 1, 1, false},
    {"ActiveXWnd", kFixed, 1, 1, false},
    {"ActiveXDraw", kFixed, 1, 0, false},
    {"T", kFixed, 2, 1, false},
    {"VariantType", kFixed, 1, 1, false},
    {"ToFloat", kFixed, 1, 1, false},
    {"ToInt", kFixed, 1, 1, false},
    {"LargeInt", kFixed, 1, 1, false},
    {"ToLargeInt", kFixed, 2, 0, false},
    {"SafeArray", kVariadicSaved, 0, 1, false},
    {"SafeArrayDestroy", kVariadicSaved, 0, 0, false},
    {"match", kFixed, 2, 1, false},
    {"search", kFixed, 4, 1, false},
    {"subexpcount", kFixed, 0, 1, false},
    {"subexp", kFixed, 4, 0, false},
    {"soundex", kFixed, 4, 1, false},
    {"deviceserial", kFixed, 1, 1, false},
    {"deviceowner", kFixed, 1, 0, false},
    {"device", kFixed, 1, 1, false},
    {"openpackage", kFixed, 2, 1, false},
    {"openpackageex", kFixed, 2, 1, false},
    {"closepackage", kFixed, 1, 0, false},
    {"addfiletopackage", kFixed, 2, 0, false},
    {"addfiletopackageex", kFixed, 3, 0, false},
    {"deletefilefrompackage", kFixed, 2, 0, false},
    {"extractfilefrompackage", kFixed, 2, 1, false},
    {"extractfilefrompackageex", kFixed, 3, 0, false},
    {"packagefileexists", kFixed, 2, 1, false},
    {"packagefiles", kFixed, 2, 1, false},
    {"loadpackagefile", kFixed, 3, 1, false},
    {"wloadpackagefile", kFixed, 3, 1, false},
    {"packagechanged", kFixed, 1, 1, false},
    {"savepackage", kFixed, 3, 0, false},
    {"packagefilesize", kFixed, 2, 1, false},
};
static_assert(std::size(kRows) == kBuiltinTableSize, "every built-in name has a row");

// One placeholder per row, so each knows the name it stands for without reading the
// instruction that called it.
template <int32_t Index>
void placeholder() {
  runtime_error("%s is not available", kRows[Index].name);
}

template <int32_t... Index>
constexpr std::array<BuiltinHandler, sizeof...(Index)> make_placeholders(std::integer_sequence<int32_t, Index...>) {
  return {&placeholder<Index>...};
}

constexpr std::array<BuiltinHandler, kBuiltinTableSize> kPlaceholders =
    make_placeholders(std::make_integer_sequence<int32_t, kBuiltinTableSize>{});

// Lets every built unit register its names into an empty table.
void collect_unit_handlers() {
  builtin_registry_clear();
  register_stack_builtins();
  register_regex_builtins();
  register_sound_builtins();
  register_game_builtins();
  register_game_drawing_builtins();
  register_game_display_builtins();
  register_particle_builtins();
  register_path_builtins();
  register_game_loop_builtins();
  register_push_handlers();
  register_procedure_call_handlers();
  register_assignment_handlers();
  register_arithmetic_handlers();
  register_compound_assignment_handlers();
  register_comparison_handlers();
  register_increment_handlers();
  register_control_flow_handlers();
  register_declaration_handlers();
  register_external_call_handlers();
  register_memory_builtins();
  register_service_builtins();
  register_application_builtins();
  register_script_thread_builtins();
  register_profiler_builtins();
  register_debugger_link_builtins();
  register_asm_builtins();
  register_run_builtins();
  register_system_builtins();
  register_text_kind_builtins();
  register_string_builtins();
  register_string_editing_builtins();
  register_trim_pad_builtins();
  register_number_conversion_builtins();
  register_list_builtins();
  register_packed_list_builtins();
  register_list_sort_builtins();
  register_enumeration_builtins();
  register_variable_builtins();
  register_array_builtins();
  register_structure_builtins();
  register_checksum_builtins();
  register_maths_builtins();
  register_printf_builtins();
  register_package_builtins();
  register_file_builtins();
  register_object_builtins();
  register_device_builtins();
  register_conversion_builtins();
  register_tokenizer_builtins();
  register_gui_builtins();
  register_control_builtins();
  register_menu_builtins();
  register_com_builtins();
  register_activex_builtins();
}

// A name as the table stores it: upper case (ASCII letters only).
std::string upper_name(const char* name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Empties an entry as builtin_register does before giving it a handler, keeping its
// name, hash and the settings named by keep_settings.
void reset_entry(BuiltinEntry* entry, BuiltinHandler handler, bool keep_settings) {
  crt::free(entry->library);
  crt::free(entry->function);
  BuiltinEntry kept = *entry;
  std::memset(entry, 0, sizeof *entry);
  entry->name = kept.name;
  entry->name_hash = kept.name_hash;
  entry->handler = handler;
  if (keep_settings) {
    entry->param_count = kept.param_count;
    entry->returns_value = kept.returns_value;
    entry->variadic = kept.variadic;
    entry->save_sp = kept.save_sp;
  }
}

}  // namespace

const BuiltinTableRow& builtin_table_row(int32_t index) { return kRows[index]; }

void register_all_builtins() {
  init_keyword_and_opcode_tables();
  reset_start_up_state();
  // Each row's unit, found through the table's index while the units are still in it:
  // the table keeps one entry per name hash.
  collect_unit_handlers();
  std::vector<std::string> row_names(kBuiltinTableSize);
  std::vector<uint32_t> row_hashes(kBuiltinTableSize);
  std::vector<int32_t> row_units(kBuiltinTableSize);
  for (int32_t index = 0; index < kBuiltinTableSize; ++index) {
    row_names[index] = upper_name(kRows[index].name);
    row_hashes[index] = hash_name_text(row_names[index].c_str());
    row_units[index] = find_builtin_by_hash(row_hashes[index]);
  }
  // The units' entries are reused where a row has the same name, so start-up copies no
  // name and allocates no entry twice.
  std::vector<BuiltinEntry*> units = builtin_registry_take_entries();
  std::vector<BuiltinHandler> unit_handlers(units.size(), nullptr);
  for (size_t unit = 0; unit < units.size(); ++unit) unit_handlers[unit] = units[unit] ? units[unit]->handler : nullptr;
  std::vector<bool> in_table(units.size(), false);
  for (int32_t index = 0; index < kBuiltinTableSize; ++index) {
    const BuiltinTableRow& row = kRows[index];
    const std::string& name = row_names[index];
    uint32_t hash = row_hashes[index];
    BuiltinHandler handler = row.keyword ? nullptr : kPlaceholders[index];
    BuiltinEntry* entry = nullptr;
    if (int32_t unit = row_units[index]; unit >= 0) {
      in_table[unit] = true;
      handler = unit_handlers[unit];
      if (units[unit] && std::strcmp(units[unit]->name, name.c_str()) == 0) {
        entry = units[unit];
        units[unit] = nullptr;
      }
    }
    if (!entry) {
      entry = static_cast<BuiltinEntry*>(crt::calloc(1, sizeof(BuiltinEntry)));
      if (!entry) continue;
      entry->name = crt::_strdup(name.c_str());
      entry->name_hash = hash;
      if (!entry->name) {
        crt::free(entry);
        continue;
      }
    }
    reset_entry(entry, handler, false);
    if (row.arity == kFixed) {
      entry->param_count = row.param_count;
    } else {
      entry->variadic = 1;
      entry->save_sp = row.arity == kVariadicSaved ? 1 : 0;
    }
    entry->returns_value = row.returns_value;
    builtin_registry_adopt(entry);
  }
  // Opcode names and the like that units look up by name keep their entries after the table.
  for (int32_t unit = 0; unit < static_cast<int32_t>(units.size()); ++unit) {
    BuiltinEntry* entry = units[unit];
    if (!entry) continue;
    if (in_table[unit]) {
      builtin_entry_free(entry);
      continue;
    }
    reset_entry(entry, entry->handler, true);
    builtin_registry_adopt(entry);
  }
  opcode_handler_table_fill();
}

bool builtin_is_placeholder(BuiltinHandler handler) {
  if (!handler) return false;
  for (BuiltinHandler placeholder_handler : kPlaceholders) {
    if (placeholder_handler == handler) return true;
  }
  return false;
}

int32_t builtin_placeholders_remaining() {
  int32_t remaining = 0;
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    const BuiltinEntry* entry = builtin_entry(index);
    if (entry && builtin_is_placeholder(entry->handler)) ++remaining;
  }
  return remaining;
}
