#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/xlsx/Xml.h"

namespace sheets::xlsx {

class ZipPackage;

// A hand-written streaming XML scanner for worksheet parts, which hold nearly all the bytes of
// a workbook. It drives an XmlHandler exactly as expat does (the same elements, attributes and
// text, text perhaps cut in other places), several times faster, because it knows only the
// XML that spreadsheet writers produce: UTF-8, elements, attributes, text, the five predefined
// entities and character references.
//
// Expat stays the reference. The scanner never accepts what expat would refuse; whatever it
// does not fully understand (a DOCTYPE, comments, processing instructions, CDATA, another
// encoding, names outside ASCII) or finds malformed, it gives up on, and the part is read
// again with expat, which reads what is valid and names the line of what is not. A handler's
// fail() makes it give up too, for expat to report with the line.
class XmlScanner final : XmlDriver {
public:
    explicit XmlScanner(XmlHandler& handler);
    ~XmlScanner();
    XmlScanner(const XmlScanner&) = delete;
    XmlScanner& operator=(const XmlScanner&) = delete;

    // The next bytes of the part, cut anywhere. False once the scanner has given up; the
    // handler has then seen part of the document and is of no further use.
    bool feed(std::span<const char> chunk);
    // The end of the part. True when the whole document was read.
    bool finish();

    // Longest run of bytes the scanner holds over from one chunk to the next (a tag cut in
    // two, mostly); a longer one makes it give up.
    static constexpr std::size_t kMaxCarry = std::size_t{1} << 20;

private:
    enum class Where : unsigned char { Start, Prolog, Content, Epilog };

    void fail(std::string detail) override;

    const char* process(const char* p, const char* end, bool final);
    const char* start(const char* p, const char* end, bool final);
    const char* declaration(const char* p, const char* end);
    const char* startTag(const char* p, const char* end);
    const char* endTag(const char* p, const char* end);
    const char* attributeValue(const char* q, const char* end, char quote);
    const char* text(const char* p, const char* end, bool final);
    const char* reference(const char* p, const char* end, char (&out)[4], std::size_t& size);
    const char* giveUp()
    {
        gaveUp_ = true;
        return nullptr;
    }

    // A byte buffer that grows, with appends the compiler keeps inline: a tag's names and
    // values are a few bytes each, and std::string's calls cost more than copying them.
    class Bytes {
    public:
        Bytes();
        char* data() { return data_.get(); }
        std::size_t size() const { return size_; }
        void clear() { size_ = 0; }
        void shrink(std::size_t size) { size_ = size; }
        void push(char c)
        {
            if (size_ == capacity_) {
                grow(1);
            }
            data_[size_++] = c;
        }
        // Copies byte by byte: the runs are short, shorter than a call to memcpy is worth.
        void append(const char* p, std::size_t n)
        {
            if (capacity_ - size_ < n) {
                grow(n);
            }
            char* out = data_.get() + size_;
            for (std::size_t i = 0; i < n; ++i) {
                out[i] = p[i];
            }
            size_ += n;
        }

    private:
        void grow(std::size_t n);
        std::unique_ptr<char[]> data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };

    struct Attribute {
        std::uint32_t name; // offsets in tag_
        std::uint32_t nameSize;
        std::uint32_t value;
    };

    XmlHandler& handler_;
    Where where_ = Where::Start;
    bool gaveUp_ = false;
    bool failed_ = false;
    const char* window_ = nullptr; // start of the bytes process() works on
    std::string carry_;
    Bytes open_;                        // names of the open elements, each ended by a NUL
    std::vector<std::uint32_t> starts_; // where each of them starts in open_
    Bytes tag_;                         // the attributes of the tag being read, NUL-ended
    std::vector<Attribute> attrs_;
    std::vector<const char*> atts_; // as the handler gets them
};

// Reads a part with the scanner. False when it gave up: the handler has then seen part of the
// document, and whatever it passed on must be undone before expat reads the part again. The
// zip layer's errors throw as with parsePart; so do the handler's own exceptions.
bool scanPart(ZipPackage& package, std::string_view part, XmlHandler& handler, bool background);

} // namespace sheets::xlsx
