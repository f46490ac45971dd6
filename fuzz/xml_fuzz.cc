// Arbitrary bytes through the XML reader. The first byte picks the reader's
// settings and how it moves (read, readTypeName with a mask, skip); the rest
// is the document, opened with openFromString. On every node the reader is
// asked everything it answers (kinds, names, values, attributes, raw XML),
// and the answers must be self-consistent: a known node code, attributes
// only on element starts, a position past the last attribute an error. A
// step that lands on no node is the end (eof), malformed input included, and
// nothing comes after it.

#include <qn/data.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool knownCode(std::int64_t code) {
    switch (code) {
        case 0:
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 32:
        case 64:
        case 128:
            return true;
        default:
            return false;
    }
}

void inspect(qn::QNXMLReader& reader, bool raw) {
    const std::int64_t code = reader.nodeType();
    check(knownCode(code));
    (void)reader.name();
    (void)reader.localName();
    (void)reader.namespaceURI();
    (void)reader.value();
    (void)reader.eof();
    const std::int64_t count = reader.attributeCount();
    if (code != qn::QNXMLReader::kElement) {
        check(count == -1 && reader.errCode() == 5);
        return;
    }
    check(count >= 0);
    for (std::int64_t i = 1; i <= count; ++i)
        (void)reader.getAttributeByIndex(i);
    (void)reader.getAttributeByIndex(count + 1);
    check(reader.errCode() == 6);
    (void)reader.getAttributeByName(u"a");
    (void)reader.existsAttribute(u"a");
    const qn::String name = reader.name();
    if (raw) (void)reader.readRawXML();
    // Neither moves the reader.
    check(reader.nodeType() == code && reader.name() == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned flags = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    qn::QNXMLReader reader;
    reader.setSimpleElements(flags & 1);
    reader.setRemoveWhiteNodes(flags & 2);
    reader.setRemoveWhiteSpaces(flags & 4);
    const bool raw = flags & 8;
    const std::int64_t mask = (flags >> 4) == 0 ? 255 : static_cast<std::int64_t>(flags >> 4) * 17;
    if (reader.openFromString(qn::fromUtf8(text)) != 0) return 0;

    for (int step = 0; step < 100000; ++step) {
        std::int64_t got = 0;
        switch (step % 5) {
            case 2:
                got = reader.readTypeName(mask, step % 2 ? u"a" : u"");
                break;
            case 4:
                check(reader.skip() == 0);
                got = reader.read();
                break;
            default:
                got = reader.read();
                break;
        }
        if (got != 1) {
            check(reader.eof());
            check(reader.read() == 0 && reader.eof());
            break;
        }
        inspect(reader, raw);
    }

    check(reader.close() == 0);
    check(reader.nodeType() == 0 && reader.errCode() == 3);
    check(reader.eof());
    return 0;
}
