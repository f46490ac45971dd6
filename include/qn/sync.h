// The reference synchronization service's parts on the device.
#pragma once

#include <qn/sync/pending_event_log.h>
#include <qn/sync/reference_services.h>
