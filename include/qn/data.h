// Structured data and its text forms.
#pragma once

#include <qn/data/json.h>
#include <qn/value.h>
