// The shared test helpers, under the name platform's tests first used.
#pragma once
#include "testsupport/TestFiles.h"

namespace ostra::platform::test {
using namespace ostra::test;
}
