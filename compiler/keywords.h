// The keyword hashes: the hash_name of every reserved word, operator symbol, directive
// and internal marker word, by which the compiler recognises words without comparing text.
#pragma once

#include <cstdint>

// Each word once: its identifier and its text, in the order the hashes are computed.
#define ZRK_KEYWORDS(X)                                                                      \
  X(Assign2, "=2") X(If, "IF") X(Else, "ELSE") X(End, "END") X(For, "FOR")                   \
  X(Foreach, "FOREACH") X(ForeachRev, "FOREACHREV") X(While, "WHILE") X(Repeat, "REPEAT")   \
  X(Until, "UNTIL") X(Try, "TRY") X(Except, "EXCEPT") X(Finally, "FINALLY") X(NewLine, "__NL") \
  X(Ampersand, "&") X(AmpersandAssign, "&=") X(Increment, "++") X(Decrement, "--")           \
  X(Increment2, "++2") X(Decrement2, "--2") X(AddAssign, "+=") X(SubtractAssign, "-=")       \
  X(MultiplyAssign, "*=") X(DivideAssign, "/=") X(Bar, "|") X(BarAssign, "|=")               \
  X(Caret, "^") X(CaretAssign, "^=") X(Plus, "+") X(Minus, "-") X(Star, "*") X(Slash, "/")   \
  X(Less, "<") X(Greater, ">") X(GreaterEqual, ">=") X(LessEqual, "<=") X(ShiftRight, ">>")  \
  X(ShiftLeft, "<<") X(Equal, "==") X(Assign, "=") X(NotEqual, "<>") X(Semicolon, ";")       \
  X(And, "AND") X(Or, "OR") X(Xor, "XOR") X(Not, "NOT") X(Mod, "MOD") X(Div, "DIV")          \
  X(Asl, "ASL") X(Asr, "ASR") X(Shl, "SHL") X(Shr, "SHR") X(Return, "RETURN")                \
  X(Break, "BREAK") X(Continue, "CONTINUE") X(Case, "CASE") X(Proc, "PROC") X(Func, "FUNC")  \
  X(NProc, "NPROC") X(NFunc, "NFUNC") X(Forward, "FORWARD") X(Override, "OVERRIDE")         \
  X(Public, "PUBLIC") X(Private, "PRIVATE") X(Local, "LOCAL") X(Global, "GLOBAL")            \
  X(ForceGlobal, "FORCEGLOBAL") X(Create, "CREATE") X(Destroy, "DESTROY") X(Main, "MAIN")    \
  X(WinMain, "WINMAIN") X(ElseIfMarker, "__ELSEIF") X(DebugMarker, "__DEBUG")                \
  X(Default, "DEFAULT") X(StartCase, "__STARTCASE") X(VarAddr, "__VARADDR")                 \
  X(StartWhile, "__STARTWHILE") X(StartForeach, "__STARTFOREACH") X(StartFor, "__STARTFOR")  \
  X(StartRepeat, "__STARTREPEAT") X(PushAddr, "PUSHADDR") X(DropFctStack, "__DROPFCTSTACK")  \
  X(DropAllFctStack, "__DROPALLFCTSTACK") X(Offset, "__OFFSET") X(Offset1, "__OFFSET1")      \
  X(SaveSp, "__SAVESP") X(SaveSp2, "__SAVESP2") X(PushProcAddr, "PUSHPROCADDR")              \
  X(PushInt, "PUSHINT") X(PushStr, "PUSHSTR") X(PushVar, "PUSHVAR") X(PushCase, "PUSHCASE")  \
  X(ParmsPushVar, "PARMSPUSHVAR") X(NgPushVar, "NGPUSHVAR") X(Offset2_1, "__OFFSET2_1")      \
  X(AddrMarker, "__ADDR") X(Noop, "__NOOP") X(EndDecl, "__ENDDECL") X(EndDecl2, "__ENDDECL2") \
  X(RangeCheckDirective, "#RANGECHECK") X(ExplicitDirective, "#EXPLICIT")                    \
  X(ClassDirective, "#CLASS") X(InheritedDirective, "#INHERITED")                            \
  X(EndClassDirective, "#ENDCLASS") X(ObjectDirective, "#OBJECT") X(Self, "SELF")            \
  X(IfdefDirective, "#IFDEF") X(IfndefDirective, "#IFNDEF") X(ElseifDirective, "#ELSEIF")    \
  X(ElseDirective, "#ELSE") X(EndifDirective, "#ENDIF") X(DefineDirective, "#DEFINE")        \
  X(GlobalsDirective, "#GLOBALS") X(LocalsDirective, "#LOCALS")                              \
  X(LibraryDirective, "#LIBRARY") X(LinkDirective, "#LINK") X(NoZrcDirective, "#NOZRC")      \
  X(UndefDirective, "#UNDEF") X(IncludeDirective, "#INCLUDE") X(ImportDirective, "#IMPORT")  \
  X(DeclareDirective, "#DECLARE") X(DeclareApiDirective, "#DECLAREAPI")                      \
  X(CDeclareDirective, "#C_DECLARE") X(CDeclareApiDirective, "#C_DECLAREAPI")                \
  X(CodeDirective, "#CODE") X(DeasmDirective, "#DEASM") X(Percent, "%")                      \
  X(DebugFileDirective, "#DEBUGFILE") X(DebugOnDirective, "#DEBUGON")                        \
  X(DebugOffDirective, "#DEBUGOFF") X(NoWarningDirective, "#NOWARNING")                      \
  X(IconDirective, "#ICON") X(NamespaceDirective, "#NAMESPACE")                              \
  X(EndNamespaceDirective, "#ENDNAMESPACE") X(DoubleColon, "::") X(ForceLink, "FORCELINK")   \
  X(FirstOp, "FIRST_OP") X(Struct, "STRUCT")

enum class Keyword : int {
#define ZRK_KEYWORD_ENUM(name, text) name,
  ZRK_KEYWORDS(ZRK_KEYWORD_ENUM)
#undef ZRK_KEYWORD_ENUM
  Count
};

constexpr int kKeywordCount = static_cast<int>(Keyword::Count);
static_assert(kKeywordCount == 138, "the reserved word list");

// The hashes, filled once by init_keyword_and_opcode_tables before any compilation.
extern uint32_t keyword_hashes[kKeywordCount];

// The hash of one keyword.
inline uint32_t keyword_hash(Keyword word) { return keyword_hashes[static_cast<int>(word)]; }
// True when hash is the keyword's hash.
inline bool is_keyword(uint32_t hash, Keyword word) { return hash == keyword_hash(word); }

// Computes the keyword hashes and fills the opcode name table. Run once at start-up.
void init_keyword_and_opcode_tables();
