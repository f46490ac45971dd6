// Arbitrary text through the date readers. Beyond "no crash", the readers'
// promises are checked and trap when broken: a date the database or REST
// formatter reads writes back as a text that reads as the same date (typed
// texts included), and a value read from any text writes without failing.
#include <qn/host/dates.h>
#include <qn/runtime/dates.h>
#include <qn/util/qnutil.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qn::String text =
        qn::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

    for (const char16_t* pattern :
         {u"yyyy-MM-dd HH:mm:ss.SSS", u"yyyy-MM-dd", u"yyyy-MM-dd'T'HH:mm:ss"}) {
        auto formatter =
            qn::dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(pattern);
        if (auto date = formatter->dateFromString(text)) {
            const qn::String written = formatter->stringFromDate(*date);
            require(!written.empty() && formatter->dateFromString(written) == date);
        }
        // A typed text reads as strictly as before where that reads at all,
        // and whatever it reads writes back as a text that reads the same.
        const auto typed = formatter->dateFromTypedString(text);
        if (auto date = formatter->dateFromString(text)) require(typed == date);
        if (typed) require(formatter->dateFromString(formatter->stringFromDate(*typed)) == typed);
    }

    const qn::DateTime rest = qn::QNutil::char_::toTimeREST(qn::StringView(text));
    require(qn::QNutil::time::toCharREST(rest).has_value());
    (void)qn::QNutil::char_::toDateREST(qn::StringView(text));
    (void)qn::qnCharToTimeWithDateFormat(text, u"MM-dd-yy");
    (void)qn::qnCharToTimeWithDateFormat(text, u"yyyy-MM-dd");
    (void)qn::qnCharToTimeOnly(text);
    (void)qn::qnCharToTime(text);
    (void)qn::qnCharToDateFormat(text, 3);
    (void)qn::qnDateTimeFromSOAPValue(text);
    (void)qn::qnDateToStringWithPicture(rest, text);

    // The text as a pattern: whatever ICU makes of it must not break.
    if (text.size() < 64) {
        qn::DateFormatter formatter("en_US_POSIX", text, qn::TimeZone::utc());
        const qn::String written = formatter.stringFromDate(rest);
        (void)formatter.dateFromString(written);
    }
    return 0;
}
