// The clipboard: open by one thread at a time, calls refused while it is not open, and
// blocks owned by the clipboard once handed over.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/platform.h"

namespace {

char* heap_text(const char* text) { return crt::_strdup(text); }

TEST(Clipboard, CallsNeedTheClipboardOpenOnThisThread) {
  char* text = heap_text("closed");
  EXPECT_EQ(SetClipboardData(CF_TEXT, text), nullptr);
  crt::free(text);  // refused: still ours
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  EXPECT_EQ(EmptyClipboard(), FALSE);
  EXPECT_EQ(CloseClipboard(), FALSE);
}

TEST(Clipboard, TextStaysUntilEmptiedOrReplaced) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  char* first = heap_text("first");
  EXPECT_EQ(SetClipboardData(CF_TEXT, first), first);
  char* second = heap_text("second");
  EXPECT_EQ(SetClipboardData(CF_TEXT, second), second) << "the first block is freed (the sanitizer build sees a leak)";
  ASSERT_TRUE(CloseClipboard());

  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "second");
  EXPECT_EQ(GetClipboardData(13), nullptr) << "another format holds nothing";
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  EXPECT_TRUE(CloseClipboard());
}

TEST(Clipboard, AnotherThreadCannotOpenItMeanwhile) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(OpenClipboard(nullptr)) << "opening again on the same thread";
  BOOL other_opened = TRUE;
  std::thread([&] { other_opened = OpenClipboard(nullptr); }).join();
  EXPECT_EQ(other_opened, FALSE);
  ASSERT_TRUE(CloseClipboard());
  std::thread([&] {
    other_opened = OpenClipboard(nullptr);
    CloseClipboard();
  }).join();
  EXPECT_EQ(other_opened, TRUE);
}

}  // namespace
