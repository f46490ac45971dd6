// Structured data and its text forms: JSON, XML, and the object collections.
#pragma once

#include <qn/collections/collection.h>
#include <qn/collections/generics.h>
#include <qn/core/json.h>
#include <qn/data/business_component.h>
#include <qn/data/collection_xml.h>
#include <qn/data/enumeration.h>
#include <qn/data/properties.h>
#include <qn/data/record.h>
#include <qn/data/sdt_properties.h>
#include <qn/data/xml_reader.h>
#include <qn/data/xml_writer.h>
#include <qn/value.h>
