// Writing XML text: the document's lines, indented and gathered in blocks
// for the stream, attribute lists built without formatting calls, and names
// from the file escaped as XML text.
#ifndef VASTREL_MUSICXML_XML_WRITER_H
#define VASTREL_MUSICXML_XML_WRITER_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>

// A number in decimal, zero-terminated, written backwards into the space that
// ends at `end` (24 characters hold any of them); returns its first character.
char* NumberText(long long number, char* end);

// An attribute list (` id="p1-m3"`) built from pieces, without formatting
// calls: every note has one.
class Attributes {
public:
    Attributes& operator<<(const char* piece) {
        const size_t length = std::strlen(piece);
        if (length_ + length < sizeof text_) {
            std::memcpy(text_ + length_, piece, length);
            length_ += length;
        }
        text_[length_] = '\0';
        return *this;
    }
    template <typename Number, typename = typename std::enable_if<std::is_integral<Number>::value>::type>
    Attributes& operator<<(Number number) {
        char digits[24];
        return *this << NumberText(static_cast<long long>(number), digits + sizeof digits);
    }
    const char* Text() const { return text_; }

private:
    char text_[128] = "";
    size_t length_ = 0;
};

// The document's text, indented two spaces a level, gathered line by line in
// a block of memory that goes to the stream whenever it fills. Tag names,
// attribute lists and leaf texts are the exporter's own and short, so one
// check of the room left serves a whole line; only names from the file are
// written a character at a time.
class XmlWriter {
public:
    explicit XmlWriter(std::ostream& out) : out_(out), block_(new char[kBlock]) {}

    // `attributes` is written as given: ` name="value"` pairs, values escaped.
    void Open(const char* name, const char* attributes = "") {
        End(Append(Append(Append(StartLine(), "<"), name), attributes), ">\n");
        ++depth_;
    }
    void Close(const char* name) {
        --depth_;
        End(Append(StartLine(), "</"), name, ">\n");
    }
    void Empty(const char* name, const char* attributes = "") {
        End(Append(Append(Append(StartLine(), "<"), name), attributes), " />\n");
    }
    // An element holding text that needs no escaping (numbers, fixed words).
    void Leaf(const char* name, const char* text) { Leaf(name, "", text); }
    void Leaf(const char* name, const char* attributes, const char* text) {
        char* at = Append(Append(Append(Append(StartLine(), "<"), name), attributes), ">");
        End(Append(Append(at, text), "</"), name, ">\n");
    }
    void Leaf(const char* name, int number) {
        char digits[24];
        Leaf(name, NumberText(number, digits + sizeof digits));
    }
    // An element holding text from the file (names), escaped.
    void TextLeaf(const char* name, const std::string& text);
    // Text written as it is, on no line of its own (the XML declaration).
    void Raw(const char* text);
    // Hands what is gathered to the stream; throws std::runtime_error when
    // the stream fails.
    void Flush();

private:
    static constexpr size_t kBlock = 64 * 1024;
    static constexpr size_t kLineRoom = 512;  // more than any line but one with a name from the file

    static char* Append(char* at, const char* text) {
        while (*text) *at++ = *text++;
        return at;
    }
    // Makes room for a line and indents it; returns where its text goes.
    char* StartLine() {
        if (used_ + kLineRoom > kBlock) Flush();
        char* at = block_.get() + used_;
        for (int i = 0; i < depth_; ++i, at += 2) at[0] = at[1] = ' ';
        return at;
    }
    void End(char* at, const char* end) { used_ = static_cast<size_t>(Append(at, end) - block_.get()); }
    void End(char* at, const char* name, const char* end) { End(Append(at, name), end); }

    std::ostream& out_;
    std::unique_ptr<char[]> block_;
    size_t used_ = 0;
    int depth_ = 0;
};

#endif
