// Miscellaneous utilities: regular expressions.
#pragma once

#include <qn/util/regex.h>
