// Geographic values as WKT text and geometry objects.
#pragma once

#include <qn/geo/geography.h>
#include <qn/host/wkt.h>
