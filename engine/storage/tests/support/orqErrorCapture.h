// Test helper: the code and the message of the engine error an action raises, for tests that
// check which error a call fails with.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace ostra::storagetest {

// The engine error code that Action raises; 0 when it raises nothing. Any other exception
// propagates.
int32_t ErrorCode(const std::function<void()>& Action);
// The message of the engine error that Action raises; "" when none.
std::string ErrorText(const std::function<void()>& Action);

}  // namespace ostra::storagetest
