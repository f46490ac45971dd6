// Offline data access: generator style and class lookup.
#pragma once

#include <qn/offline/offline_helper.h>
