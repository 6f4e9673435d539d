// Handle table: handles are unique while live, closed handles are refused.
#include <gtest/gtest.h>

#include "platform/kernel/handles.h"

namespace {

class Probe : public platform::KernelObject {
 public:
  explicit Probe(bool* destroyed) : KernelObject(platform::ObjectKind::Event), destroyed_(destroyed) {}
  ~Probe() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST(Handles, CloseDropsTheHandleButNotOtherUsers) {
  bool destroyed = false;
  auto object = std::make_shared<Probe>(&destroyed);
  HANDLE handle = platform::handle_create(object);
  ASSERT_NE(handle, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform::handle_object(handle), object);
  EXPECT_EQ(platform::handle_object_as<Probe>(handle, platform::ObjectKind::Thread), nullptr);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_FALSE(destroyed);  // the test still holds it
  EXPECT_EQ(platform::handle_object(handle), nullptr);
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  object.reset();
  EXPECT_TRUE(destroyed);
}

TEST(Handles, ForeignValuesAreNotHandles) {
  for (uintptr_t value : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0x1000}, uintptr_t{0x1006}, ~uintptr_t{0}}) {
    EXPECT_EQ(platform::handle_object(reinterpret_cast<HANDLE>(value)), nullptr) << value;
  }
}

}  // namespace
