// Writing XML text, and names from the file made into text XML can hold.
#include "xml_writer.h"

#include <stdexcept>

#include "musicxml.h"

char* NumberText(long long number, char* end) {
    *--end = '\0';
    unsigned long long magnitude = number < 0 ? 0 - static_cast<unsigned long long>(number) : number;
    do {
        *--end = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *--end = '-';
    return end;
}

void XmlWriter::TextLeaf(const char* name, const std::string& text) {
    used_ = static_cast<size_t>(Append(Append(Append(StartLine(), "<"), name), ">") - block_.get());
    for (char c : text) {
        if (used_ + kLineRoom > kBlock) Flush();
        const char* escaped = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : nullptr;
        if (escaped) {
            used_ = static_cast<size_t>(Append(block_.get() + used_, escaped) - block_.get());
        } else {
            block_[used_++] = c;
        }
    }
    if (used_ + kLineRoom > kBlock) Flush();
    End(Append(block_.get() + used_, "</"), name, ">\n");
}

void XmlWriter::Raw(const char* text) {
    if (std::strlen(text) + kLineRoom > kBlock - used_) Flush();
    used_ = static_cast<size_t>(Append(block_.get() + used_, text) - block_.get());
}

void XmlWriter::Flush() {
    out_.write(block_.get(), static_cast<std::streamsize>(used_));
    used_ = 0;
    if (!out_) throw std::runtime_error("the MusicXML document could not be written");
}

namespace {

// The length of the well-formed UTF-8 character at text[i] that XML may hold
// (no overlong forms, surrogates, U+FFFE/U+FFFF or code points past
// U+10FFFF), or 0.
size_t Utf8Length(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    unsigned long code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next >> 6) != 2) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    static const unsigned long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace

// Names in MIDI files carry no encoding: UTF-8 is kept, anything else is
// read as Latin-1. Control characters, which XML cannot hold, are dropped.
std::string MusicXmlText(const char* text) {
    std::string clean;
    for (const char* c = text ? text : ""; *c; ++c)
        if (static_cast<unsigned char>(*c) >= 0x20 || *c == '\t' || *c == '\n') clean += *c;
    if (IsUtf8(clean)) return clean;
    std::string converted;
    for (char c : clean) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (b >> 6));
            converted += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return converted;
}
