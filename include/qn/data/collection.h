// Moved to <qn/collections/collection.h>; this path keeps existing includes working.
#pragma once

#include <qn/collections/collection.h>
