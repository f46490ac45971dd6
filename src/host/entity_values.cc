#include <qn/host/entity_helper.h>
