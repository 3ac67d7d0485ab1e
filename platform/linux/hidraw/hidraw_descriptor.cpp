// HID 1.11, section 6.2.2: a descriptor is a run of items. A short item is a prefix byte (data
// size in bits 0-1, where 3 means four bytes; type in bits 2-3; tag in bits 4-7) and its data; a
// long item (prefix 0xFE) carries its own data size and is defined for nothing the lengths depend
// on, so it is skipped. The global items Report Size, Report Count and Report ID, kept on a stack
// by Push and Pop, say how many bits each Input and Output main item adds to which report.
#include "platform/linux/hidraw/hidraw_descriptor.h"

namespace {

constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;
constexpr unsigned TYPE_MAIN = 0;
constexpr unsigned TYPE_GLOBAL = 1;

constexpr unsigned MAIN_INPUT = 0x8;
constexpr unsigned MAIN_OUTPUT = 0x9;
constexpr unsigned MAIN_COLLECTION = 0xA;
constexpr unsigned MAIN_END_COLLECTION = 0xC;

constexpr unsigned GLOBAL_REPORT_SIZE = 0x7;
constexpr unsigned GLOBAL_REPORT_ID = 0x8;
constexpr unsigned GLOBAL_REPORT_COUNT = 0x9;
constexpr unsigned GLOBAL_PUSH = 0xA;
constexpr unsigned GLOBAL_POP = 0xB;

// The Linux kernel refuses a descriptor that pushes deeper (HID_GLOBAL_STACK_SIZE).
constexpr unsigned PUSH_DEPTH = 4;
constexpr unsigned REPORT_IDS = 256;
constexpr std::uint16_t MOST_BYTES = 0xFFFF;
// Report data beyond this many bits gives the largest length there is; counting stops there, so
// that no sum can overflow.
constexpr std::uint64_t MOST_BITS = static_cast<std::uint64_t>(MOST_BYTES) * 8;

struct Globals {
    std::uint32_t reportSize;
    std::uint32_t reportCount;
    std::uint32_t reportId;  // 0 until the descriptor names one
};

// The bits of each report of one kind, by report ID, and whether a main item declared it.
struct Reports {
    std::uint64_t bits[REPORT_IDS];
    bool declared[REPORT_IDS];
};

struct Parser {
    Globals globals;
    Globals pushed[PUSH_DEPTH];
    unsigned pushDepth;
    std::size_t collectionDepth;
    Reports input;
    Reports output;
};

void AddBits(Reports& reports, const Globals& globals) {
    const std::uint64_t bits = static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;  // < 2^64
    std::uint64_t& total = reports.bits[globals.reportId];
    total = bits >= MOST_BITS - total ? MOST_BITS : total + bits;
    reports.declared[globals.reportId] = true;
}

// Windows puts the report ID in front of every report buffer (a zero when the device numbers
// none of its reports) and counts it; hidraw's write takes the same leading byte.
std::uint16_t LongestReport(const Reports& reports) {
    std::uint64_t longest = 0;
    for (unsigned id = 0; id < REPORT_IDS; ++id) {
        if (!reports.declared[id]) continue;
        const std::uint64_t bytes = 1 + (reports.bits[id] + 7) / 8;
        if (bytes > longest) longest = bytes;
    }
    return longest > MOST_BYTES ? MOST_BYTES : static_cast<std::uint16_t>(longest);
}

bool MainItem(Parser& parser, unsigned tag) {
    switch (tag) {
        case MAIN_INPUT: AddBits(parser.input, parser.globals); return true;
        case MAIN_OUTPUT: AddBits(parser.output, parser.globals); return true;
        case MAIN_COLLECTION: ++parser.collectionDepth; return true;  // at most one per byte: no overflow
        case MAIN_END_COLLECTION:
            if (parser.collectionDepth == 0) return false;
            --parser.collectionDepth;
            return true;
        default: return true;  // Feature reports and reserved tags do not count
    }
}

bool GlobalItem(Parser& parser, unsigned tag, std::uint32_t value) {
    switch (tag) {
        case GLOBAL_REPORT_SIZE: parser.globals.reportSize = value; return true;
        case GLOBAL_REPORT_COUNT: parser.globals.reportCount = value; return true;
        case GLOBAL_REPORT_ID:
            if (value == 0 || value >= REPORT_IDS) return false;
            parser.globals.reportId = value;
            return true;
        case GLOBAL_PUSH:
            if (parser.pushDepth == PUSH_DEPTH) return false;
            parser.pushed[parser.pushDepth++] = parser.globals;
            return true;
        case GLOBAL_POP:
            if (parser.pushDepth == 0) return false;
            parser.globals = parser.pushed[--parser.pushDepth];
            return true;
        default: return true;  // usage page, logical and physical ranges, units
    }
}

}  // namespace

bool DescriptorReportLengths(const std::uint8_t* descriptor, std::size_t size, std::uint16_t* inputLength,
                             std::uint16_t* outputLength) {
    if (descriptor == nullptr || size == 0) return false;
    Parser parser = {};
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t prefix = descriptor[at];
        const std::size_t left = size - at - 1;  // bytes after the prefix
        if (prefix == LONG_ITEM_PREFIX) {
            // Data size, long tag, then the data.
            if (left < 2 || left - 2 < descriptor[at + 1]) return false;
            at += 3 + descriptor[at + 1];
            continue;
        }
        const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (left < dataSize) return false;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < dataSize; ++i) value |= static_cast<std::uint32_t>(descriptor[at + 1 + i]) << (8 * i);
        const unsigned type = (prefix >> 2) & 0x03;
        const unsigned tag = prefix >> 4;
        if (type == TYPE_MAIN && !MainItem(parser, tag)) return false;
        if (type == TYPE_GLOBAL && !GlobalItem(parser, tag, value)) return false;
        at += 1 + dataSize;
    }
    if (parser.collectionDepth != 0) return false;
    *inputLength = LongestReport(parser.input);
    *outputLength = LongestReport(parser.output);
    return true;
}
