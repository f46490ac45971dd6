// Moved to <qn/core/registry.h>; this path keeps existing includes working.
#pragma once

#include <qn/core/registry.h>
