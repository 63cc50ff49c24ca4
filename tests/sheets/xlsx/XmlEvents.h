#pragma once

// The worksheet scanner against expat, event by event: both drive a handler that writes down
// what it is told, and the two records must be the same. Used by the scanner's tests and its
// fuzz target.

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "StoredZip.h"
#include "sheets/Error.h"
#include "sheets/xlsx/Xml.h"
#include "sheets/xlsx/XmlScanner.h"
#include "sheets/xlsx/ZipPackage.h"

namespace testing_sheets {

// Writes every event down. Text is joined up to the next element event, since parsers may cut
// it anywhere. The separators are control characters that XML cannot carry.
class EventRecorder : public sheets::xlsx::XmlHandler {
public:
    void startElement(const char* name, const char** atts) override
    {
        events_ += "\x01S";
        events_ += name;
        for (; atts[0] != nullptr; atts += 2) {
            events_ += '\x02';
            events_ += atts[0];
            events_ += '\x03';
            events_ += atts[1];
        }
        inText_ = false;
        if (failAt_ == ++count_) {
            fail("told to");
        }
    }
    void endElement(const char* name) override
    {
        events_ += "\x01E";
        events_ += name;
        inText_ = false;
    }
    void characters(std::string_view text) override
    {
        if (!inText_) {
            events_ += "\x01T";
            inText_ = true;
        }
        events_ += text;
    }

    // fail() at the n-th start tag (1-based).
    void failAt(int n) { failAt_ = n; }
    const std::string& events() const { return events_; }

private:
    std::string events_;
    bool inText_ = false;
    int count_ = 0;
    int failAt_ = 0;
};

// Expat's record of a part, or its error message.
struct ExpatResult {
    bool ok = false;
    std::string events; // or the message
};

inline ExpatResult expatEvents(std::string_view xml)
{
    const std::string zip = storedZip({{"part.xml", std::string(xml)}});
    try {
        auto package = sheets::xlsx::ZipPackage::openMemory(zip.data(), zip.size(), "test.xlsx");
        EventRecorder recorder;
        sheets::xlsx::parsePart(*package, "part.xml", recorder);
        return {true, recorder.events()};
    } catch (const sheets::Error& error) {
        return {false, error.what()};
    }
}

// The scanner's record, fed in pieces cut at these offsets (ascending); nullopt when it gives
// up.
inline std::optional<std::string> scannerEvents(std::string_view xml,
                                                const std::vector<std::size_t>& cuts = {})
{
    EventRecorder recorder;
    sheets::xlsx::XmlScanner scanner(recorder);
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        cut = std::min(cut, xml.size());
        if (cut > at && !scanner.feed(std::span<const char>(xml.data() + at, cut - at))) {
            return std::nullopt;
        }
        at = std::max(at, cut);
    }
    if (at < xml.size() && !scanner.feed(std::span<const char>(xml.data() + at, xml.size() - at))) {
        return std::nullopt;
    }
    if (!scanner.finish()) {
        return std::nullopt;
    }
    return recorder.events();
}

// Cuts every `step` bytes.
inline std::vector<std::size_t> everyNth(std::size_t size, std::size_t step)
{
    std::vector<std::size_t> cuts;
    for (std::size_t at = step; at < size; at += step) {
        cuts.push_back(at);
    }
    return cuts;
}

} // namespace testing_sheets
