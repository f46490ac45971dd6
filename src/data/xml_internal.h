// The libxml2 boundary shared by the XML writer and reader: text crosses it
// as UTF-8, an empty argument as no string at all, and libxml2's own error
// reporting (which prints to standard error by default) is silenced: the
// library reports failures through its error codes instead.
#pragma once

#include <qn/core/string.h>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlstring.h>

#include <mutex>
#include <string>
#include <string_view>

namespace qn::xml {

// The reader options of every XML input: never XML_PARSE_NOENT, DTDLOAD,
// DTDATTR, DTDVALID, XINCLUDE or HUGE, and no network, so no entity is
// substituted, nothing external is loaded and libxml2's limits bound entity
// amplification and nesting depth.
constexpr int kReaderOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
constexpr int kForbiddenReaderOptions = XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR |
                                        XML_PARSE_DTDVALID | XML_PARSE_XINCLUDE | XML_PARSE_HUGE;
static_assert((kReaderOptions & kForbiddenReaderOptions) == 0);
// A string's bytes are always UTF-8, whatever its declaration says.
constexpr int kStringReaderOptions = kReaderOptions | XML_PARSE_IGNORE_ENC;

inline void ignoreGenericError(void*, const char*, ...) {}
inline void ignoreStructuredError(void*, xmlErrorPtr) {}

// Initialises libxml2 once per process and silences its generic error
// handler on the calling thread (libxml2 keeps that handler per thread).
inline void prepareThread() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    thread_local bool silenced = false;
    if (!silenced) {
        xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
        xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
        silenced = true;
    }
}

// The text of a parse error: where the input stopped being XML, then
// libxml2's message (its line breaks turned into spaces).
inline String parseErrorText(int line, int column, std::string_view message) {
    std::string text = "XML parse error at line " + std::to_string(line) + ", column " +
                       std::to_string(column) + ": ";
    for (char c : message)
        text += c == '\n' || c == '\r' ? ' ' : c;
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return fromUtf8(text);
}

inline String parseErrorText(const xmlError& error) {
    return parseErrorText(error.line, error.int2, error.message ? error.message : "");
}

// A string argument: its UTF-8 bytes, with a pointer that is null when the
// text is empty (the library's rule for every string it hands to libxml2).
class Arg {
public:
    explicit Arg(StringView text) : utf8_(toUtf8(text)) {}
    const xmlChar* get() const noexcept {
        return utf8_.empty() ? nullptr : reinterpret_cast<const xmlChar*>(utf8_.c_str());
    }
    operator const xmlChar*() const noexcept { return get(); }

private:
    std::string utf8_;
};

// libxml2's text (UTF-8, may be null) as a String; null gives the empty one.
inline String text(const xmlChar* s) {
    return s ? fromUtf8(reinterpret_cast<const char*>(s)) : String();
}

// The same for text libxml2 handed over to the caller, which is freed.
inline String takeText(xmlChar* s) {
    String out = text(s);
    if (s) xmlFree(s);
    return out;
}

// A name argument on a hot path (the reader's attribute and element names):
// an ASCII name of up to 63 characters is copied into the object itself, with
// no allocation and no conversion call; any other goes through toUtf8. Like
// Arg, the pointer is null for the empty name.
class NameArg {
public:
    explicit NameArg(StringView text) {
        if (text.size() < sizeof(small_)) {
            std::size_t n = 0;
            while (n < text.size() && text[n] < 0x80 && text[n] != 0) {
                small_[n] = static_cast<char>(text[n]);
                ++n;
            }
            if (n == text.size()) {
                small_[n] = '\0';
                data_ = small_;
                size_ = n;
                return;
            }
        }
        large_ = toUtf8(text);
        data_ = large_.c_str();
        size_ = large_.size();
    }
    NameArg(const NameArg&) = delete;
    NameArg& operator=(const NameArg&) = delete;

    const xmlChar* get() const noexcept {
        return size_ == 0 ? nullptr : reinterpret_cast<const xmlChar*>(data_);
    }
    operator const xmlChar*() const noexcept { return get(); }
    std::string_view view() const noexcept { return {data_, size_}; }

private:
    char small_[64];
    std::string large_;
    const char* data_ = small_;
    std::size_t size_ = 0;
};

}  // namespace qn::xml
