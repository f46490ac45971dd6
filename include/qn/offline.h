// Offline data access: generator style and class lookup.
#pragma once

#include <qn/host/offline_helper.h>
#include <qn/offline/db.h>
