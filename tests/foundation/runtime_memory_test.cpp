// Runtime memory: type sizes, pools, owned allocations by depth and at program end,
// interned names, tracking, block sizes and member lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context_fixture.h"
#include "foundation/hashes.h"
#include "foundation/runtime_memory.h"
#include "foundation/variable.h"
#include "platform/kernel/memory.h"

namespace {

TEST(TypeSize, Table) {
  const struct {
    int32_t code;
    uint32_t size;
  } cases[] = {{-9, 8}, {-8, 8}, {-7, 7}, {-6, 6}, {-5, 4}, {-4, 4}, {-3, 4},
               {-2, 2}, {-1, 1}, {0, 0},  {1, 1},  {40, 40}, {256, 256}};
  for (const auto& c : cases) EXPECT_EQ(type_size(c.code), c.size) << "type code " << c.code;
}

TEST(Pool, RoundingAndSizePrefix) {
  Pool* pool = pool_create(64);
  ASSERT_NE(pool, nullptr);
  const struct {
    uint32_t flags, size, taken;
  } cases[] = {{0, 5, 8}, {0, 8, 8}, {0, 1, 4}, {0, 0, 0}, {kPoolSizePrefix, 5, 12}, {kPoolSizePrefix, 0, 4}};
  for (const auto& c : cases) {
    uint32_t before = pool->current ? pool->current->used : 0;
    PoolBlock* block = pool->current;
    auto* p = static_cast<uint8_t*>(pool_alloc(pool, c.flags, c.size));
    ASSERT_NE(p, nullptr) << c.flags << "/" << c.size;
    if (block != pool->current) before = 0;
    EXPECT_EQ(pool->current->used - before, c.taken) << c.flags << "/" << c.size;
    if (c.flags & kPoolSizePrefix) {
      uint32_t word = p[-4] | p[-3] << 8 | p[-2] << 16 | uint32_t(p[-1]) << 24;
      EXPECT_EQ(word, c.taken) << "prefix of " << c.size;
    }
    for (uint32_t i = 0; i < c.size; ++i) ASSERT_EQ(p[i], 0) << "zeroed";
  }
  pool_destroy(pool);
}

TEST(Pool, BlockLimits) {
  Pool* pool = pool_create(64);
  EXPECT_NE(pool_alloc(pool, 0, 64), nullptr) << "a whole block";
  EXPECT_EQ(pool_alloc(pool, 0, 65), nullptr);
  EXPECT_EQ(pool_alloc(pool, kPoolSizePrefix, 61), nullptr) << "64 + 4 does not fit";
  EXPECT_EQ(pool_alloc(pool, 0, 0xFFFFFFFFu), nullptr) << "no wrap-around in rounding";
  PoolBlock* full = pool->current;
  void* next = pool_alloc(pool, 0, 4);
  ASSERT_NE(next, nullptr);
  EXPECT_NE(pool->current, full) << "a full block gives way to a new one";
  EXPECT_EQ(pool->current->older, full);
  pool_destroy(pool);
}

TEST(Pool, BlockDataIsReleasedAtLiveCountZero) {
  Pool* pool = pool_create(64);
  void* a = pool_alloc(pool, 0, 8);
  void* b = pool_alloc(pool, kPoolSizePrefix, 8);
  PoolBlock* block = pool->current;
  EXPECT_EQ(block->live, 2u);
  int outside = 0;
  pool_free(pool, &outside);  // no block's pointer: ignored
  pool_free(pool, a);
  EXPECT_NE(block->data, nullptr);
  pool_free(pool, b);
  EXPECT_EQ(block->data, nullptr) << "released with its last allocation";
  void* c = pool_alloc(pool, 0, 8);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(pool->current, block) << "the next allocation starts a new block";
  EXPECT_EQ(pool->current->older, block) << "the released block's header stays";
  char* copy = pool_strdup(pool, "name");
  EXPECT_STREQ(copy, "name");
  pool_destroy(pool);
}

// Calls of the COM release steps, in order.
std::vector<std::string> com_calls;
void com_release(void* wrapper) { com_calls.push_back("release " + std::to_string(*static_cast<int*>(wrapper))); }
void com_uninitialize() { com_calls.push_back("uninitialize"); }
void com_destroy(void* wrapper) {
  com_calls.push_back("delete " + std::to_string(*static_cast<int*>(wrapper)));
  delete static_cast<int*>(wrapper);
}

class Owned : public ContextTest {
 protected:
  void SetUp() override {
    ContextTest::SetUp();
    com_calls.clear();
    com_object_release = {com_release, com_uninitialize, com_destroy};
  }
  void TearDown() override {
    ContextTest::TearDown();
    com_object_release = {};
  }
  std::vector<uint32_t> depths() const {
    std::vector<uint32_t> result;
    for (OwnedAllocation* node = context->owned; node; node = node->next) result.push_back(node->depth);
    return result;
  }
};

TEST_F(Owned, ReleasedAtTheirDepthExactlyOnce) {
  context->call_depth = 2;
  ASSERT_TRUE(context_own_allocation(context, crt::malloc(8), 1, kOwnedMemory));
  ASSERT_TRUE(context_own_allocation(context, crt::malloc(8), 0, kOwnedMemory));  // current depth: 2
  ASSERT_TRUE(context_own_allocation(context, new int(7), 2, kOwnedComObject));
  ASSERT_TRUE(context_own_allocation(context, crt::malloc(8), 3, kOwnedMemory));
  ASSERT_TRUE(context_own_allocation(context, crt::malloc(8), 2, kOwnedMemory));
  EXPECT_EQ(depths(), (std::vector<uint32_t>{2, 3, 2, 2, 1})) << "new records in front";

  context_release_depth(context, 2);
  EXPECT_EQ(depths(), (std::vector<uint32_t>{3, 1}));
  EXPECT_EQ(com_calls, (std::vector<std::string>{"release 7", "uninitialize", "delete 7"}));
  context_release_depth(context, 2);  // nothing left there: no second free
  EXPECT_EQ(depths(), (std::vector<uint32_t>{3, 1}));
  EXPECT_EQ(com_calls.size(), 3u);
  EXPECT_EQ(context->owned->previous, nullptr);
  EXPECT_EQ(context->owned->next->previous, context->owned);
}

TEST_F(Owned, ProgramEndReleasesComObjectsLikeADepthEnd) {
  ASSERT_TRUE(context_own_allocation(context, crt::malloc(8), 1, kOwnedMemory));
  ASSERT_TRUE(context_own_allocation(context, new int(4), 1, kOwnedComObject));
  ASSERT_TRUE(context_own_allocation(context, nullptr, 2, kOwnedMemory));
  context_release_owned(context);
  EXPECT_EQ(context->owned, nullptr);
  EXPECT_EQ(com_calls, (std::vector<std::string>{"release 4", "uninitialize", "delete 4"}));
  context_release_owned(context);  // an empty list stays empty
  EXPECT_EQ(context->owned, nullptr);
}

TEST(InternName, LowerCasedAndSharedByHash) {
  char first[] = "MyName";
  char second[] = "MYNAME";
  char other[] = "Other";
  char* a = intern_name(first);
  EXPECT_STREQ(first, "myname") << "lower-cased in place";
  EXPECT_STREQ(a, "myname");
  EXPECT_NE(a, first) << "a copy is kept";
  EXPECT_EQ(intern_name(second), a);
  char* b = intern_name(other);
  EXPECT_NE(b, a);
  EXPECT_EQ(intern_name(nullptr), nullptr);
  InternedName* node = interned_names_first();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->text, a) << "appended at the tail";
  EXPECT_EQ(node->hash, hash_name_text("myname"));
  EXPECT_EQ(node->next->text, b);
  interned_names_free();
  EXPECT_EQ(interned_names_first(), nullptr);
}

TEST(AllocBlockSize, ExactSizeOrZero) {
  void* block = crt::malloc(13);
  EXPECT_EQ(alloc_block_size(block), 13u);
  EXPECT_EQ(alloc_block_size(nullptr), 0u);
  static char not_a_block[64];
  EXPECT_EQ(alloc_block_size(not_a_block + 32), 0u);
  crt::free(block);
}

TEST_F(ContextTest, TrackingRecordsNewestFirst) {
  char name[] = "PROG.ZRK";
  context->name = crt::_strdup(name);
  void* a = crt::malloc(10);
  void* b = crt::malloc(20);
  track_allocation("buffer", 5, a, 0);
  tracking_label = crt::_strdup("phase");
  track_allocation(nullptr, 6, b, 99);
  ASSERT_NE(tracked_allocations, nullptr);
  EXPECT_STREQ(tracked_allocations->name, "PROG.ZRK") << "the running program's name";
  EXPECT_STREQ(tracked_allocations->label, "phase");
  EXPECT_EQ(tracked_allocations->size, 99u);
  TrackedAllocation* older = tracked_allocations->next;
  ASSERT_NE(older, nullptr);
  EXPECT_STREQ(older->name, "buffer");
  EXPECT_EQ(older->hash, hash_name_text("buffer"));
  EXPECT_EQ(older->label, nullptr);
  EXPECT_EQ(older->size, 10u) << "size 0 asks the block";
  untrack_allocation(b);
  untrack_allocation(b);  // none left: ignored
  EXPECT_EQ(tracked_allocations, older);
  EXPECT_EQ(older->previous, nullptr);
  untrack_allocation(a);
  EXPECT_EQ(tracked_allocations, nullptr);
  crt::free(tracking_label);
  tracking_label = nullptr;
  crt::free(a);
  crt::free(b);
}

TEST_F(ContextTest, VariableRecordsRememberTheirAllocator) {
  Variable* percent = variable_record_allocate(context, true);
  Variable* text = variable_record_allocate(context, false);
  ASSERT_NE(percent, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(alloc_block_size(percent), sizeof(Variable)) << "'%' records come from the C allocator";
  EXPECT_EQ(HeapSize(context->heap, 0, text), sizeof(Variable)) << "others from the program heap";
  // One routine frees both kinds, each where it came from.
  for (Variable* variable : {percent, text}) variable_record_free(context, variable);
}

TEST_F(ContextTest, VariableDataAndMembers) {
  Variable* structure = variable_record_allocate(context, false);
  Variable* members[3];
  const char* names[3] = {"A%", "B$", "C%"};
  for (int i = 0; i < 3; ++i) {
    members[i] = variable_record_allocate(context, false);
    members[i]->hash = hash_name_text(names[i]);
    members[i]->member_offset = 4u * i;
    members[i]->type_code = -3 - i;
    if (i) {
      members[i - 1]->next = members[i];
      members[i]->prev = members[i - 1];
    }
    ASSERT_TRUE(member_list_add(structure, members[i]));
  }
  int index = 0;
  for (MemberNode* node = structure->members; node; node = node->next, ++index) {
    EXPECT_EQ(node->member, members[index]);
    EXPECT_EQ(node->offset, 4u * index);
    EXPECT_EQ(node->type_code, -3 - index);
    if (index) {
      EXPECT_EQ(node->previous->member, members[index - 1]);
    }
  }
  EXPECT_EQ(index, 3) << "declaration order";
  EXPECT_EQ(find_variable_in_list(members[0], "B$"), members[1]);
  EXPECT_EQ(find_variable_in_list(members[0], "D$"), nullptr);

  memory_tracking = 1;
  structure->data = crt::malloc(12);
  track_allocation("data", 0, structure->data, 0);
  variable_free_data(context, structure);
  EXPECT_NE(structure->data, nullptr) << "data not owned: left alone";
  structure->flags = kVariableOwnsData;
  variable_free_data(context, structure);
  EXPECT_EQ(structure->data, nullptr);
  EXPECT_EQ(tracked_allocations, nullptr) << "untracked while tracking is on";
  memory_tracking = 0;

  for (MemberNode* node = structure->members; node;) {
    MemberNode* next = node->next;
    crt::free(node);
    node = next;
  }
}

TEST(ListElementFirst, WalksBack) {
  ListElement chain[3]{};
  chain[1].prev = &chain[0];
  chain[2].prev = &chain[1];
  EXPECT_EQ(list_element_first(&chain[2]), &chain[0]);
  EXPECT_EQ(list_element_first(&chain[0]), &chain[0]);
  EXPECT_EQ(list_element_first(nullptr), nullptr);
}

}  // namespace
