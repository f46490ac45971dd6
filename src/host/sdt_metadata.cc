#include <qn/host/sdt_metadata.h>
