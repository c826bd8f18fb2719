// Test helper: catching engine errors (see orqErrorCapture.h).
#include "orqErrorCapture.h"

#include "engine/storage/orqErrors.h"

namespace ostra::storagetest {

int32_t ErrorCode(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EOrqDatabaseError& e) {
        return e.ErrorCode;
    }
    return 0;
}

std::string ErrorText(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EOrqDatabaseError& e) {
        return e.Message();
    }
    return "";
}

}  // namespace ostra::storagetest
