// Structured data and its text forms: JSON, and the object collections.
#pragma once

#include <qn/data/collection.h>
#include <qn/data/json.h>
#include <qn/value.h>
