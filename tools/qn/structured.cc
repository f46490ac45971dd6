// `qn xml` and `qn json`: walk an XML document node by node as the reader
// reports it, and read a JSON text into values and write it back; and the
// demo's section on both.

#include <qn/data.h>
#include <qn/runtime.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNXMLReader;
using qn::QNXMLWriter;
using qn::String;
using qn::toUtf8;

namespace {

const char* kindName(std::int64_t code) {
    switch (code) {
        case QNXMLReader::kElement:
            return "element";
        case QNXMLReader::kEndElement:
            return "end";
        case QNXMLReader::kText:
            return "text";
        case QNXMLReader::kComment:
            return "comment";
        case QNXMLReader::kWhiteSpace:
            return "white";
        case QNXMLReader::kCData:
            return "cdata";
        case QNXMLReader::kProcessingInstruction:
            return "pi";
        case QNXMLReader::kDocumentType:
            return "doctype";
        default:
            return "other";
    }
}

// A value on one line: control characters as escapes.
std::string oneLine(const String& text) {
    std::string out = "\"";
    for (char c : toUtf8(text)) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// One line per node the reader stops on: code, kind, name, attributes and
// value as the reader gives them.
void printNodes(QNXMLReader& reader, std::ostream& out, const char* indent) {
    while (reader.read() == 1) {
        const std::int64_t code = reader.nodeType();
        out << indent << code << " " << kindName(code);
        if (code == QNXMLReader::kElement || code == QNXMLReader::kEndElement)
            out << " " << toUtf8(reader.name());
        if (code == QNXMLReader::kElement) {
            const std::int64_t count = reader.attributeCount();
            for (std::int64_t i = 1; i <= count; ++i)
                out << " [" << i << "]=" << oneLine(reader.getAttributeByIndex(i));
        }
        // 205: the kinds that have a value. An element's value is all the
        // text below it; it is shown for elements that hold text on one line.
        if ((code & 205) != 0) {
            String value = reader.value();
            const bool shown = code != QNXMLReader::kElement || value.find(u'\n') == String::npos;
            if (!value.empty() && shown) out << " " << oneLine(value);
        }
        out << "\n";
    }
}

std::string absoluteArgument(const std::string& path) {
    // Logical paths ($TEMP/...) and URLs are the library's to resolve.
    if (path.empty() || path[0] == '$' || path.find("://") != std::string::npos) return path;
    std::error_code ec;
    auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

}  // namespace

bool readAllText(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

int runXml(const std::vector<std::string>& args) {
    std::string path;
    auto reader = qn::makeRef<QNXMLReader>();
    for (const std::string& arg : args) {
        if (arg == "--keep-white") {
            reader->setRemoveWhiteNodes(false);
            reader->setRemoveWhiteSpaces(false);
        } else if (arg == "--no-simple") {
            reader->setSimpleElements(false);
        } else if (path.empty()) {
            path = arg;
        } else {
            std::cerr << "qn xml: unexpected argument '" << arg << "'\n";
            return 2;
        }
    }
    if (path.empty()) {
        std::cerr << "usage: qn xml FILE [--keep-white] [--no-simple]\n";
        return 2;
    }
    if (reader->open(qn::fromUtf8(absoluteArgument(path))) != 0) {
        std::cerr << "qn xml: " << toUtf8(reader->errDescription()) << "\n";
        return 1;
    }
    printNodes(*reader, std::cout, "");
    const bool complete = reader->eof();
    const std::int64_t code = reader->errCode();
    reader->close();
    if (code != 0) {
        std::cerr << "qn xml: error " << code << ": " << toUtf8(reader->errDescription()) << "\n";
        return 1;
    }
    if (!complete) {
        std::cerr << "qn xml: the document is not well-formed; reading stopped here\n";
        return 1;
    }
    return 0;
}

int runJson(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: qn json FILE (- for standard input)\n";
        return 2;
    }
    std::string text;
    if (!readAllText(args[0], text)) {
        std::cerr << "qn json: cannot read " << args[0] << "\n";
        return 1;
    }
    std::string error;
    auto value = qn::QNJSON::parse(std::string_view(text), &error);
    if (!value) {
        std::cerr << "qn json: " << error << "\n";
        return 1;
    }
    auto back = qn::QNJSON::generateUtf8(*value, &error);
    if (!back) {
        std::cerr << "qn json: " << error << "\n";
        return 1;
    }
    std::cout << *back << "\n";
    return 0;
}

void showXmlJson(std::ostream& out) {
    using qn::Value;

    auto writer = qn::makeRef<QNXMLWriter>();
    writer->openToString();
    writer->writeStartDocumentStandalone(u"", 0);
    writer->writeStartElement(u"Trips");
    writer->writeAttributeValue(u"agency", u"TravelAgency");
    writer->writeComment(u" two trips ");
    const std::pair<const char16_t*, const char16_t*> trips[] = {{u"Montevideo", u"1250.50"},
                                                                 {u"S\u00e3o Paulo & Rio", u"980"}};
    for (const auto& [city, price] : trips) {
        writer->writeStartElement(u"Trip");
        writer->writeElementValue(u"City", city);
        writer->writeElementValue(u"Price", price);
        writer->writeEndElement();
    }
    writer->writeStartElement(u"Notes");
    writer->writeCData(u"<b>bold</b> stays as written");
    writer->writeEndElement();
    writer->close();
    std::string xml = toUtf8(writer->resultingString());
    while (!xml.empty() && xml.back() == '\n')
        xml.pop_back();
    out << "   QNXMLWriter wrote:\n";
    std::istringstream lines(xml);
    for (std::string line; std::getline(lines, line);)
        out << "     " << line << "\n";

    out << "   QNXMLReader steps through it (code kind name [attributes] value):\n";
    QNXMLReader reader;
    reader.openFromString(writer->resultingString());
    printNodes(reader, out, "     ");
    reader.close();

    const std::string json =
        R"({"id":12345678901234567890,"price":12345678901234567890.12,"rate":0.1,)"
        R"("name":"Caf\u00e9 \ud83d\ude80","tags":["a/b",null,true]})";
    out << "   JSON text:        " << json << "\n";
    std::string error;
    auto value = qn::QNJSON::parse(std::string_view(json), &error);
    if (!value) {
        out << "   parse error: " << error << "\n";
        return;
    }
    const qn::Dictionary* root = value->asDictionary();
    out << "   read as values:   id is a "
        << (root->get(u"id").isDecimal() ? "Decimal" : "other kind") << ", price a "
        << (root->get(u"price").isDecimal() ? "Decimal" : "other kind") << " ("
        << toUtf8(root->get(u"price").description()) << ")\n";
    out << "   written back:     " << qn::QNJSON::generateUtf8(*value).value_or("?") << "\n";
    qn::QNJSON::parse(std::string_view("{\"a\": [1, 2"), &error);
    out << "   malformed text:   " << error << "\n";
}

}  // namespace qntool
