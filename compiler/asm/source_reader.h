// Reading of an assembler word list: sections, labels, functions, locals and statements,
// each statement handed to the lowering.
#pragma once

struct CodeListNode;

// Reads every word from first on, lowering each statement into the current block.
void read_assembler_source(CodeListNode* first);
// The end-of-text checks (an open function) and the release of the reader's state.
void finish_assembler_source();
