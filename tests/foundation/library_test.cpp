// The foundation library links into programs.
#include <gtest/gtest.h>

#include <cstring>

namespace foundation {
const char* library_name();
}

TEST(FoundationLibrary, Links) { EXPECT_STREQ(foundation::library_name(), "zrkfoundation"); }
