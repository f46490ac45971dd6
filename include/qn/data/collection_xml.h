// The XML forms generated code writes and reads collections in, through its
// XML writer and reader: operations on a collection, receiver first.
//
// Writing: the collection element `name` (none when empty) with an "xmlns"
// attribute of `nameSpace`, unless that begins with the marker "[*:nosend]"
// (which is dropped); inside, each record item as its own element (a
// generated-XML record through its writexml, any other through its XML
// text), each other item as an element named `itemName` ("item" when blank
// or "internal") holding its text, with an "xmlns" attribute of the item
// namespace when the collection has no name or the namespaces differ. The
// null marker is an empty element.
//
// Reading mirrors it: the reader is on the collection element (or, with no
// name, on the first item) and ends on the collection's end tag (or on the
// empty element, a complete empty collection). Items are matched by the
// same item element name the writer uses; records are made of the item
// class, other items are their text.
#pragma once

#include <qn/collections/collection.h>
#include <qn/core/string.h>
#include <qn/data/xml_reader.h>
#include <qn/data/xml_writer.h>
#include <qn/export.h>

#include <cstdint>

namespace qn {

QN_API void writexmlcollection(const QNObjectCollection& collection, QNXMLWriter& writer,
                               StringView name, StringView nameSpace, StringView itemName = {},
                               StringView itemNamespace = {}, bool includeState = true);
// writexmlcollection with no item name or namespace.
QN_API void writexml(const QNObjectCollection& collection, QNXMLWriter& writer, StringView name,
                     StringView nameSpace, bool includeState = true);
// 1 when the collection was read whole, else 0.
QN_API std::int64_t readxmlcollection(QNObjectCollection& collection, QNXMLReader& reader,
                                      StringView name, StringView itemName);
// Always 0: generated code reads collections with readxmlcollection.
QN_API std::int64_t readxml(QNObjectCollection& collection, QNXMLReader& reader, StringView name);

}  // namespace qn
