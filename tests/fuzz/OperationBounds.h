#pragma once
// The fuzz targets take the operations' time bounds from the shared support
// folder under their own namespace.

#include "tests/support/OperationBounds.h"

namespace kkm::fuzz {
using namespace kkm::test;
}  // namespace kkm::fuzz
