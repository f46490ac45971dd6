// XML text through the record and collection loaders of the sample
// application's generated classes: a customer (the library's XML form), a
// flight (its generated writexml and readxml), a typed collection of
// customers, an untyped collection, and collections in generated code's
// form read from an XML reader on the text's first element.
//
// Besides never crashing, a load answers false exactly when it reported a
// message, and whatever loaded (fully or not) writes back to a text that
// loads without a fault and is a fixed point: written again after that
// load, it is the same text. The first writing may differ from the input
// (unknown elements are gone, numbers and dates normalised, characters XML
// cannot carry dropped, text trimmed by the generated readers); what it
// writes must describe its own content exactly.

#include <qn/data.h>
#include <qn/host/bundle.h>
#include <qn/host/errors.h>

#include <generated/sdt_customer.h>
#include <generated/sdt_flight.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

using qn::QNObjectCollection;
using qn::QNXMLReader;
using qn::QNXMLWriter;
using qn::Ref;
using qn::String;
using qn::StringView;

void check(bool condition) {
    if (!condition) std::abort();
}

// A load's answer and its messages agree: false exactly when one was added.
void checkAnswer(bool loaded, QNObjectCollection& messages) {
    check(loaded == (messages.count() == 0));
    messages.removeAllItems();
}

// --- Records and collections in the library's XML form ------------------------

template <typename Record>
void loadRecord(const String& text) {
    auto messages = QNObjectCollection::init();
    auto record = qn::makeRef<Record>();
    checkAnswer(record->fromxml(text, messages.get()), *messages);

    // The root element name is the level's, so a record always writes.
    const String written = record->toxml();
    check(!written.empty());
    auto again = qn::makeRef<Record>();
    check(again->fromxml(written, messages.get()));
    check(messages->count() == 0);
    check(again->toxml() == written);
}

// A collection written under `root` (which loading with its root checked
// expects) loads again and writes the same text.
void checkCollectionFixedPoint(const QNObjectCollection& loaded, StringView root) {
    const String written = loaded.toxmlIncludeHeader(false, true, root, {});
    check(!written.empty());
    auto again = qn::makeRef<QNObjectCollection>(loaded.itemsTypeName());
    auto messages = QNObjectCollection::init();
    check(again->fromxml(written, messages.get()));
    check(messages->count() == 0);
    check(again->count() == loaded.count());
    check(again->toxmlIncludeHeader(false, true, root, {}) == written);
}

void loadTypedCollection(const String& text) {
    const String type = u"Customer";
    auto customers = qn::makeRef<QNObjectCollection>(std::optional<String>(type));
    auto messages = QNObjectCollection::init();
    checkAnswer(customers->fromxmlUseCollectionNameForRootNode(text, false, messages.get()),
                *messages);
    checkCollectionFixedPoint(*customers, type);
}

void loadUntypedCollection(const String& text) {
    auto list = QNObjectCollection::init();
    auto messages = QNObjectCollection::init();
    checkAnswer(list->fromxml(text, messages.get()), *messages);
    checkCollectionFixedPoint(*list, u"Collection");
}

// --- Collections in generated code's form ----------------------------------------

// Reads a collection with readxmlcollection from a reader on the text's
// first element, or (with `unwrapped`) on the first element inside it, as
// generated code reads a collection written without its own element. -1
// when the text has no such element.
std::int64_t readGenerated(QNObjectCollection& collection, StringView text, StringView itemName,
                           bool unwrapped) {
    QNXMLReader reader;
    if (reader.openFromString(text) != 0) return -1;
    if (reader.readTypeName(QNXMLReader::kElement, {}) != 1) return -1;
    if (unwrapped && reader.readTypeName(QNXMLReader::kElement, {}) != 1) return -1;
    return qn::readxmlcollection(collection, reader, unwrapped ? String() : reader.name(),
                                 itemName);
}

String writeGenerated(const QNObjectCollection& collection, StringView itemName) {
    QNXMLWriter writer;
    writer.openToString();
    qn::writexmlcollection(collection, writer, u"Collection", {}, itemName, {});
    return writer.resultingString();
}

// What readxmlcollection read, written in the same form, reads whole and
// writes the same text.
void loadGenerated(const String& text, const std::optional<String>& type, StringView itemName,
                   bool unwrapped) {
    auto collection = qn::makeRef<QNObjectCollection>(type);
    if (readGenerated(*collection, text, itemName, unwrapped) < 0) return;

    const String written = writeGenerated(*collection, itemName);
    check(!written.empty());
    auto again = qn::makeRef<QNObjectCollection>(type);
    check(readGenerated(*again, written, itemName, false) == 1);
    check(again->count() == collection->count());
    check(writeGenerated(*again, itemName) == written);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Property tables are built once per class from the model current at the
    // first use, so the sample bundle is set before any record is made.
    qn::QNBundle::setMainBundlePath(QN_SAMPLE_BUNDLE_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const String text = qn::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

    loadRecord<travelagency::SdtCustomer>(text);
    loadTypedCollection(text);
    loadUntypedCollection(text);
    loadGenerated(text, std::nullopt, u"item", false);
    loadGenerated(text, std::nullopt, u"item", true);
    loadGenerated(text, String(u"Customer.Line"), u"Line", false);
    loadRecord<travelagency::SdtFlight>(text);
    loadGenerated(text, String(u"Flight.Leg"), u"Leg", false);

    // Messages go to the lists given; anything else a load reported (item
    // conversions, generated readers) would pile up on the thread's list.
    qn::QNThreadErrorHandler::errorHandler().clear();
    return 0;
}
