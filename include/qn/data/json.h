// Moved to <qn/core/json.h>; this path keeps existing includes working.
#pragma once

#include <qn/core/json.h>
