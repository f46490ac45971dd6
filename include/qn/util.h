// Utilities of generated code: regular expressions, and QNutil with the
// conversions (picture formatting, blobs, value lists, wrapping, comparison).
#pragma once

#include <qn/util/picture.h>
#include <qn/util/qnutil.h>
#include <qn/util/regex.h>
