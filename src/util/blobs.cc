#include <qn/util/qnutil.h>
