// Runtime values and built-in functions: configuration, localisation and the
// built-ins of generated code on strings, numbers and dates.
#pragma once

#include <qn/runtime/builtins.h>
#include <qn/runtime/config.h>
#include <qn/runtime/dates.h>
#include <qn/runtime/numbers.h>
#include <qn/runtime/strings.h>
#include <qn/value.h>
