// `qn sdt` and the demo's section on records: the sample application's
// generated records written to JSON and XML and loaded back.
#include <qn/data.h>
#include <qn/host.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <generated/sdt_customer.h>
#include <generated/sdt_flight.h>
#include "commands.h"

namespace qntool {

namespace {

using qn::String;
using qn::Value;

void printMessages(const qn::QNObjectCollection& messages, std::ostream& out, const char* indent) {
    for (const Value& item : messages.items()) {
        const auto* message = dynamic_cast<const qn::QNSDTData*>(item.asObject().get());
        if (message == nullptr) continue;
        out << indent << qn::toUtf8(message->valueForFieldSpecifier(u"Id").description()) << ": "
            << qn::toUtf8(message->valueForFieldSpecifier(u"Description").description()) << "\n";
    }
}

std::string bundleFromEnvironment() {
    const char* env = std::getenv("QN_BUNDLE");
    return env != nullptr && *env != '\0' ? env : "examples/bundle";
}

}  // namespace

int runSdt(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool asCollection = false;
    bool jsonNames = false;
    bool toXML = false;
    for (const auto& arg : args) {
        if (arg == "--collection") {
            asCollection = true;
        } else if (arg == "--json-names") {
            jsonNames = true;
        } else if (arg == "--xml") {
            toXML = true;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        std::cerr << "usage: qn sdt TYPE FILE [--collection] [--json-names] [--xml]\n";
        return 2;
    }
    // The bundle's metadata must be in place before a record class is used.
    if (!useBundle(bundleFromEnvironment())) return 1;
    std::string text;
    if (!readAllText(positional[1], text)) {
        std::cerr << "qn sdt: cannot read " << positional[1] << "\n";
        return 1;
    }
    const String type = qn::fromUtf8(positional[0]);
    // XML when the text starts with markup, else JSON.
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const bool fromXML = first != std::string::npos && text[first] == '<';
    auto messages = qn::QNObjectCollection::init();
    if (asCollection) {
        qn::QNObjectCollection collection{std::optional<String>(type)};
        if (collection.collectionItemsClass() == nullptr) {
            std::cerr << "qn sdt: no generated class for the SDT " << positional[0] << "\n";
            return 1;
        }
        // The collection's element is the items' SDT name.
        const String root = type.substr(0, type.find(u'.'));
        const bool loaded = fromXML ? collection.fromxmlUseCollectionNameForRootNode(
                                          qn::fromUtf8(text), false, messages.get())
                                    : collection.fromJSONString(qn::fromUtf8(text), messages.get());
        if (toXML) {
            std::cout << qn::toUtf8(collection.toxmlIncludeHeader(true, true, root, {}));
        } else {
            std::cout << qn::toUtf8(jsonNames ? collection.sdtDataToJson()
                                              : collection.toJSONString())
                      << "\n";
        }
        if (!loaded) {
            std::cerr << "qn sdt: some elements did not load:\n";
            printMessages(*messages, std::cerr, "  ");
            return 1;
        }
        return 0;
    }
    const qn::ClassInfo* recordClass = qn::ClassRegistry::classNamed(
        qn::StringView(qn::QNSDTDataHelper::typeNameFromSDTName(type)));
    auto record = recordClass
                      ? std::dynamic_pointer_cast<qn::QNSdtBusinessComponent>(recordClass->create())
                      : nullptr;
    if (!record) {
        std::cerr << "qn sdt: no generated class for the SDT " << positional[0] << "\n";
        return 1;
    }
    // JSON is read as written: JSON names first, then short names.
    qn::String error;
    const bool loaded = fromXML ? record->fromxml(qn::fromUtf8(text), messages.get())
                                : record->loadFromValue(Value(qn::fromUtf8(text)),
                                                        qn::QNSDTNameConversionJSONOrShort, &error);
    if (toXML) {
        std::cout << qn::toUtf8(record->toxmlIncludeHeader(true, true, {}, {}));
    } else {
        std::cout << qn::toUtf8(jsonNames ? record->sdtDataToJson() : record->toJSONString())
                  << "\n";
    }
    if (!loaded) {
        if (fromXML) {
            printMessages(*messages, std::cerr, "qn sdt: ");
        } else {
            std::cerr << "qn sdt: " << qn::toUtf8(error) << "\n";
        }
        return 1;
    }
    return 0;
}

void showRecords(std::ostream& out) {
    using travelagency::SdtCustomer;
    using travelagency::SdtCustomer_Line;

    auto customer = qn::makeRef<SdtCustomer>();
    customer->setCustomerId(1042);
    customer->setCustomerName(u"Ana P\u00e9rez");
    customer->setCustomerGuid(*qn::QNUUID::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"));
    customer->setCustomerSince(qn::DateTime::fromCivilUTC({2019, 6, 3, 9, 30, 0, 0}));
    customer->setCustomerBalance(qn::Decimal::fromString(u"12345678901234567890.1234567890"));
    customer->setCustomerActive(true);
    const std::pair<const char16_t*, const char16_t*> lines[] = {{u"Montevideo tour", u"1250.50"},
                                                                 {u"Rio transfer", u"80"}};
    std::int64_t lineId = 1;
    for (const auto& [product, amount] : lines) {
        auto line = qn::makeRef<SdtCustomer_Line>();
        line->setLineId(lineId++);
        line->setProduct(product);
        line->setAmount(qn::Decimal::fromString(amount));
        customer->lines()->addItem(Value(line));
    }
    const String json = customer->sdtDataToJson();
    out << "   customer, JSON names:  " << qn::toUtf8(json) << "\n";
    out << "   short names:           " << qn::toUtf8(customer->toJSONString()).substr(0, 60)
        << "...\n";

    auto loaded = qn::makeRef<SdtCustomer>();
    const bool ok = loaded->fromJSONString(json);
    out << "   loaded back:           " << (ok ? "yes" : "no")
        << ", equal to the original: " << (loaded->isEqual(Value(customer)) ? "yes" : "no") << "\n";
    out << "   Lines.item(1).Product: "
        << qn::toUtf8(loaded->valueForFieldSpecifier(u"Lines.item(1).Product").description())
        << "\n";
    out << "   CustomerBalance:       " << qn::toUtf8(loaded->getvalue(u"CustomerBalance"))
        << " (every digit kept)\n";

    qn::QNObjectCollection customers{std::optional<String>(u"Customer")};
    auto messages = qn::QNObjectCollection::init();
    const bool all = customers.fromJSONString(
        u"[{\"CustomerId\":1,\"name\":\"Bo\"},\"not a customer\",{\"CustomerId\":3}]",
        messages.get());
    out << "   a list with a stray element: " << customers.count()
        << " records, loaded whole: " << (all ? "yes" : "no") << "\n";
    printMessages(*messages, out, "     ");

    travelagency::SdtCustomerNames names;
    names.fromJSONString(u"[\"Ana\",\"Bo\",\"Cy\"]");
    out << "   CustomerNames (a sequence): " << qn::toUtf8(names.toJSONString()) << "\n";

    // XML: the customer with its lines, and a collection of them.
    const String xml = customer->toxml();
    out << "   customer as XML:       " << qn::toUtf8(xml.substr(0, 96)) << "...\n";
    const std::size_t linesAt = xml.find(u"<Lines>");
    if (linesAt != String::npos) {
        out << "   its lines in XML:      "
            << qn::toUtf8(xml.substr(linesAt, xml.find(u"</Lines>") + 8 - linesAt)) << "\n";
    }
    auto fromXML = qn::makeRef<SdtCustomer>();
    const bool xmlOk = fromXML->fromxml(xml);
    out << "   loaded back from XML:  " << (xmlOk ? "yes" : "no")
        << ", equal to the original: " << (fromXML->isEqual(Value(customer)) ? "yes" : "no")
        << "\n";
    qn::QNObjectCollection twoCustomers{std::optional<String>(u"Customer")};
    twoCustomers.addItem(Value(customer));
    twoCustomers.addItem(Value(fromXML->clone()));
    qn::QNObjectCollection readBack{std::optional<String>(u"Customer")};
    const bool listOk =
        readBack.fromxml(twoCustomers.toxmlIncludeHeader(false, true, u"Customer", {}));
    out << "   two customers in XML and back: " << readBack.count() << " records, equal: "
        << (listOk && readBack.isEqual(Value(twoCustomers.clone())) ? "yes" : "no") << "\n";

    // A record whose generated code writes its own XML, with an empty list.
    travelagency::SdtFlight flight;
    flight.flightId = 880;
    flight.code = u"QN 880";
    flight.price = qn::Decimal::fromString(u"420.50");
    flight.open = true;
    qn::QNXMLWriter writer;
    writer.openToString();
    writer.setIndentation(0);
    flight.writexml(writer, {}, u"TravelAgency");
    const String flightXML = writer.resultingString();
    out << "   a generated-XML flight: " << qn::toUtf8(flightXML) << "\n";
    travelagency::SdtFlight flightBack;
    const bool flightOk = flightBack.fromxml(flightXML);
    out << "   read back by its own readxml: " << (flightOk ? "yes" : "no")
        << ", equal: " << (flightBack.isEqual(Value(flight.clone())) ? "yes" : "no") << "\n";
}

}  // namespace qntool
