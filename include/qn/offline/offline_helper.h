// Moved to <qn/host/offline_helper.h>; this path keeps existing includes working.
#pragma once

#include <qn/host/offline_helper.h>
