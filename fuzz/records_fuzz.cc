// JSON text through the record and collection loaders of the sample
// application's generated classes. The first byte picks the loader, the rest
// is the text. Besides never crashing, whatever loaded (fully or not) must
// write back, describe itself and copy: a clone equals its source and
// hashes alike. A typed collection that loaded without a fault must come
// back equal from its own sdtDataToJson text.

#include <qn/data.h>
#include <qn/host/bundle.h>
#include <qn/host/errors.h>

#include <generated/sdt_customer.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace {

using travelagency::SdtCustomer;
using travelagency::SdtCustomerNames;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

const qn::String kCustomerType = u"Customer";

// Specifiers that reach into records and collections at the depths the
// sample data has; the walk must answer (possibly Absent) for any content.
constexpr qn::StringView kSpecifiers[] = {
    u"count",
    u"1",
    u"item(1)",
    u"item(2).CustomerId",
    u"1.name",
    u"1.Lines.count",
    u"1.Lines.item(1).Product",
    u"CustomerName",
    u"Lines.1.Amount",
    u"Lines.item(3).LineId",
    u"Name",
    u"item(0)",
};

// Write-back, description and copies of a loaded record or collection.
template <typename T>
void exercise(const qn::Ref<T>& loaded) {
    (void)loaded->toJSONString();
    (void)loaded->sdtDataToJson();
    (void)loaded->description();
    for (qn::StringView specifier : kSpecifiers)
        (void)loaded->valueForFieldSpecifier(specifier);

    const auto copy = loaded->clone();
    check(copy != nullptr);
    check(copy->isEqual(qn::Value(loaded)));
    check(loaded->isEqual(qn::Value(copy)));
    check(copy->hash() == loaded->hash());
    check(copy->toJSONString() == loaded->toJSONString());
}

void loadCustomer(const qn::String& text) {
    for (int mode : {qn::QNSDTNameConversionShortName, qn::QNSDTNameConversionJSONName,
                     qn::QNSDTNameConversionJSONOrShort}) {
        auto customer = qn::makeRef<SdtCustomer>();
        qn::String error;
        (void)customer->loadFromValue(qn::Value(text), mode, &error);
        exercise(customer);
    }
}

void loadTypedCollection(const qn::String& text) {
    auto customers = qn::makeRef<qn::QNObjectCollection>(std::optional<qn::String>(kCustomerType));
    auto messages = qn::QNObjectCollection::init();
    const bool loaded = customers->fromJSONString(text, messages.get());
    check(loaded == (messages->count() == 0));
    exercise(customers);
    if (!loaded) return;

    auto again = qn::makeRef<qn::QNObjectCollection>(std::optional<qn::String>(kCustomerType));
    auto againMessages = qn::QNObjectCollection::init();
    check(again->fromJSONString(customers->sdtDataToJson(), againMessages.get()));
    check(again->isEqual(qn::Value(customers)));
    check(again->hash() == customers->hash());
}

void loadUntypedCollection(const qn::String& text) {
    auto list = qn::QNObjectCollection::init();
    auto messages = qn::QNObjectCollection::init();
    (void)list->fromJSONString(text, messages.get());
    exercise(list);
}

void loadNames(const qn::String& text) {
    auto names = qn::makeRef<SdtCustomerNames>();
    qn::String error;
    (void)names->loadFromValue(qn::Value(text), qn::QNSDTNameConversionJSONOrShort, &error);
    exercise(names);
    auto viaText = qn::makeRef<SdtCustomerNames>();
    (void)viaText->fromJSONString(text);
    exercise(viaText);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Property tables are built once per class from the model current at the
    // first use, so the sample bundle is set before any record is made.
    qn::QNBundle::setMainBundlePath(QN_SAMPLE_BUNDLE_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (!qn::isValidUtf8(bytes)) return 0;
    const qn::String text = qn::fromUtf8(bytes);
    switch (data[0] % 4) {
        case 0:
            loadCustomer(text);
            break;
        case 1:
            loadTypedCollection(text);
            break;
        case 2:
            loadUntypedCollection(text);
            break;
        default:
            loadNames(text);
            break;
    }
    // Failed loads report on the thread's error list; without this it grows
    // with every input.
    qn::QNThreadErrorHandler::errorHandler().clear();
    return 0;
}
