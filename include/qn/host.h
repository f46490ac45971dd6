// The host layer: the services of the host frameworks that the library
// relies on (bundle and model, logging, errors, threads, notifications,
// storage, class lookup by name).
#pragma once

#include <qn/core/registry.h>
#include <qn/host/bundle.h>
#include <qn/host/business_components.h>
#include <qn/host/data_layer.h>
#include <qn/host/dates.h>
#include <qn/host/dispatch.h>
#include <qn/host/entity_helper.h>
#include <qn/host/environment.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/host/messages.h>
#include <qn/host/model.h>
#include <qn/host/notifications.h>
#include <qn/host/offline_helper.h>
#include <qn/host/sdt_metadata.h>
#include <qn/host/utilities.h>
#include <qn/value.h>
