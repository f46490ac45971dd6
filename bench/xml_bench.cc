// The XML writer and reader beside the libxml2 loops they wrap: 100,000
// elements written to memory, then read back (each element's name and text).
// The same texts are prepared up front on both sides, so the ratios are the
// wrappers' cost: argument conversion, the state checks and the stepping.

#include <qn/data.h>

#include <benchmark/benchmark.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <string>
#include <vector>

namespace {

constexpr int kElements = 100000;

struct Texts {
    std::vector<std::string> ids, values;
    std::vector<qn::String> qnIds, qnValues;
};

const Texts& texts() {
    static const Texts t = [] {
        Texts out;
        for (int i = 0; i < kElements; ++i) {
            out.ids.push_back(std::to_string(i));
            out.values.push_back("Trip to Montevideo & back, n\xC2\xBA " + std::to_string(i));
            out.qnIds.push_back(qn::fromUtf8(out.ids.back()));
            out.qnValues.push_back(qn::fromUtf8(out.values.back()));
        }
        return out;
    }();
    return t;
}

const xmlChar* x(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
const xmlChar* x(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}

std::string rawWrite() {
    const Texts& t = texts();
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
    xmlTextWriterSetIndent(writer, 1);
    xmlTextWriterSetIndentString(writer, x(" "));
    xmlTextWriterStartDocument(writer, "1.0", "UTF-8", nullptr);
    xmlTextWriterStartElement(writer, x("Trips"));
    for (int i = 0; i < kElements; ++i) {
        xmlTextWriterStartElement(writer, x("Trip"));
        xmlTextWriterWriteAttribute(writer, x("id"), x(t.ids[i]));
        xmlTextWriterWriteElement(writer, x("Name"), x(t.values[i]));
        xmlTextWriterEndElement(writer);
    }
    xmlTextWriterEndDocument(writer);
    xmlFreeTextWriter(writer);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                     static_cast<std::size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    return text;
}

qn::String qnWrite() {
    const Texts& t = texts();
    qn::QNXMLWriter writer;
    writer.openToString();
    writer.writeStartDocumentStandalone(u"", 0);
    writer.writeStartElement(u"Trips");
    for (int i = 0; i < kElements; ++i) {
        writer.writeStartElement(u"Trip");
        writer.writeAttributeValue(u"id", t.qnIds[i]);
        writer.writeElementValue(u"Name", t.qnValues[i]);
        writer.writeEndElement();
    }
    writer.close();
    return writer.resultingString();
}

void BM_XmlWriterQN(benchmark::State& state) {
    texts();
    for (auto _ : state) {
        qn::String text = qnWrite();
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(BM_XmlWriterQN)->Unit(benchmark::kMillisecond);

void BM_XmlWriterRawLibxml2(benchmark::State& state) {
    texts();
    for (auto _ : state) {
        std::string text = rawWrite();
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(BM_XmlWriterRawLibxml2)->Unit(benchmark::kMillisecond);

// The reader sides collect what generated code reads: each Trip's id and
// its Name's text.
void BM_XmlReaderQN(benchmark::State& state) {
    const qn::String document = qnWrite();
    for (auto _ : state) {
        qn::QNXMLReader reader;
        reader.openFromString(document);
        reader.read();  // onto the root, whose text is every element's
        std::size_t found = 0;
        while (reader.read() == 1) {
            if (reader.nodeType() != qn::QNXMLReader::kElement) continue;
            if (reader.existsAttribute(u"id") == 1) {
                benchmark::DoNotOptimize(reader.getAttributeByName(u"id"));
            } else {
                benchmark::DoNotOptimize(reader.value());
                ++found;
            }
        }
        reader.close();
        if (found != kElements) state.SkipWithError("wrong element count");
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(BM_XmlReaderQN)->Unit(benchmark::kMillisecond);

void BM_XmlReaderRawLibxml2(benchmark::State& state) {
    const std::string document = rawWrite();
    for (auto _ : state) {
        xmlTextReaderPtr reader = xmlReaderForMemory(
            document.data(), static_cast<int>(document.size()), nullptr, "UTF-8", XML_PARSE_NONET);
        xmlTextReaderRead(reader);  // onto the root, whose text is every element's
        std::size_t found = 0;
        while (xmlTextReaderRead(reader) == 1) {
            if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) continue;
            if (xmlChar* id = xmlTextReaderGetAttribute(reader, x("id"))) {
                benchmark::DoNotOptimize(id);
                xmlFree(id);
            } else {
                xmlChar* value = xmlTextReaderReadString(reader);
                benchmark::DoNotOptimize(value);
                xmlFree(value);
                ++found;
            }
        }
        xmlFreeTextReader(reader);
        if (found != kElements) state.SkipWithError("wrong element count");
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}
BENCHMARK(BM_XmlReaderRawLibxml2)->Unit(benchmark::kMillisecond);

}  // namespace
