// Business components: records with their transactions and messages, and
// the collections that act on many records at once.
#pragma once

#include <qn/bc/trn_collection.h>
#include <qn/data/business_component.h>
#include <qn/data/record.h>
