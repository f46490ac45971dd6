// How SDT type names map to generated class names.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

namespace qn::internal {

// The generated class of an SDT name: "_" read as ".", then for k = 1 ... n
// parts "Sdt" + the last k parts joined with "_", prefixed by the others in
// lower case ("Module.Customer.Item": "module_customer_SdtItem",
// "module_SdtCustomer_Item", "SdtModule_Customer_Item"); the first that is a
// registered class. Without one, a collection SDT of that name stands for
// its items: the name of the type of "<dotted>.<collection item name>" (a
// bounded number of such steps); else the dotted name itself.
String typeNameFromSDTName(StringView sdtName);

// A class the library ships for an SDT (dotted name) that applications may
// also generate: typeNameFromSDTName answers it only when no generated class
// is found, so it never stands in for the application's own.
QN_API void registerLibraryClassForSDTName(StringView dottedSDTName, StringView className);

}  // namespace qn::internal
