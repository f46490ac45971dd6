// Expressions given as text, evaluated to decimals.
#pragma once

#include <qn/expr/expression.h>
