// Waiting in tests for what the sound output thread brings about.
#pragma once

#include <chrono>
#include <thread>

// Waits up to ten seconds for the condition to hold; its last answer.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}
