// Packed lists combined element by element: two lists, a list and a scalar on either
// side, every operator code, nesting, and the owned results.
#include <gtest/gtest.h>

#include <string>

#include "operator_fixture.h"
#include "vm/elementwise.h"

namespace {

using Elementwise = OperatorTest;

struct Case {
  const char* left;
  char code;
  const char* right;
  const char* result;
};

const Case kCases[] = {
    // Two lists: the longer count, an exhausted list giving 0.
    {"[1,2,3]", '+', "[10,20]", "[11,22,3]"},
    {"[1,2]", '*', "[3]", "[3,0]"},
    {"[]", '-', "[1,2]", "[-1,-2]"},
    {"[]", '+', "[]", "[]"},
    {"['a','b']", '+', "['x']", "['ax','b0']"},
    {"['2']", '+', "['3']", "[5]"},
    {"[[1,2],3]", '+', "[[10,20],30]", "[[11,22],33]"},
    {"[[1,2],3]", '+', "[5]", "[[6,7],3]"},
    // A list and a scalar on either side: the list is the left element.
    {"[1,2,3]", '+', "5", "[6,7,8]"},
    {"5", '+', "[1,2,3]", "[6,7,8]"},
    {"10", '-', "[1,2]", "[-9,-8]"},
    {"[1,5]", '=', "5", "[0,1]"},
    {"10", '<', "[5,20]", "[1,0]"},
    {"[1,2]", 'a', "[1,0]", "[1,0]"},
    {"[0,3]", 'o', "0", "[0,1]"},
    {"[1,'a']", '+', "'b'", "['1b','ab']"},
    {"['2','a']", '+', "3", "[5,'a3']"},
    {"[1,2]", '+', "'3'", "[4,5]"},
    {"[1,[2,'z']]", '+', "1", "[2,[3,'z1']]"},
    {"[7]", '/', "w'2'", "[3.5]"},
    // Bit operations and shifts on 32 bits; the count is the low 8 bits.
    {"[12,-1]", '&', "10", "[8,10]"},
    {"[12]", '|', "3", "[15]"},
    {"[12]", '^', "10", "[6]"},
    {"[1]", 'l', "32", "[0]"},
    {"[1]", 'l', "256", "[1]"},
    {"[1]", 'l', "31", "[2147483648]"},
    {"[1]", 'L', "31", "[-2147483648]"},
    {"[-8]", 'r', "1", "[2147483644]"},
    {"[-8]", 'R', "1", "[-4]"},
    {"[-8]", 'R', "40", "[-1]"},
    {"[8]", 'R', "40", "[0]"},
    {"[3,4]", ',', "[3,3]", "[1,0]"},
    {"[3,4]", '.', "[4,4]", "[0,1]"},
    {"[3,4]", '!', "[3,3]", "[0,1]"},
    {"[3]", '>', "2", "[1]"},
    {"[3]", '?', "2", "[3]"},
    {"[1]", '/', "0", "[inf]"},
};

}  // namespace

TEST_F(Elementwise, ListsCombineWithListsAndScalars) {
  for (const Case& row : kCases) {
    std::string name = std::string(row.left) + " " + row.code + " " + row.right;
    push_form(row.left);
    push_form(row.right);
    ValueCell* right = stack_pop(context);
    ValueCell* left = stack_pop(context);
    EXPECT_EQ(elementwise_operator(row.code, left, right), 1) << name;
    EXPECT_EQ(drain_stack(), row.result) << name;
  }
}

TEST_F(Elementwise, TwoScalarsAreLeftToTheCaller) {
  for (const char* right : {"2", "'b'", "w'c'"}) {
    push_form("'a'");
    push_form(right);
    ValueCell* right_cell = stack_pop(context);
    ValueCell* left_cell = stack_pop(context);
    EXPECT_EQ(elementwise_operator('+', left_cell, right_cell), 0) << right;
    EXPECT_EQ(context->stack_top, nullptr) << right;
  }
}

TEST_F(Elementwise, OperandsStayAsTheyWere) {
  void* left = make_list("[1,'a',[2]]");
  void* right = make_list("['b',5,[3]]");
  void* result = packed_list_combine('+', left, right);
  EXPECT_EQ(list_form(result), "['1b','a5',[5]]");
  EXPECT_EQ(list_form(left), "[1,'a',[2]]");
  EXPECT_EQ(list_form(right), "['b',5,[3]]");
  crt::free(result);
}

TEST_F(Elementwise, PushedListIsOwnedAndSizedOnce) {
  push_form("[1,2,3]");
  ValueCell* list = stack_pop(context);
  elementwise_push_scalar('*', list, 2);
  ValueCell* top = context->stack_top;
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->flags, kCellList);
  EXPECT_EQ(top->variable, nullptr);
  EXPECT_EQ(alloc_block_size(top->text), 4u * 9u) << "three items and the end marker";
  bool owned = false;
  for (OwnedAllocation* record = context->owned; record; record = record->next) {
    if (record->pointer == top->text) owned = true;
  }
  EXPECT_TRUE(owned);
  EXPECT_EQ(drain_stack(), "[2,4,6]");
  push_form("[1,'x']");
  list = stack_pop(context);
  elementwise_push_text('+', list, "y");
  EXPECT_EQ(drain_stack(), "['1y','xy']");
}
