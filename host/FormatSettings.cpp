// The process-wide locale settings object.
#include "host/FormatSettings.h"

namespace ostra {
namespace {
TFormatSettings& Current() {
    static TFormatSettings settings;
    return settings;
}
}  // namespace

const TFormatSettings& FormatSettings() { return Current(); }
void SetFormatSettings(const TFormatSettings& settings) { Current() = settings; }

}  // namespace ostra
