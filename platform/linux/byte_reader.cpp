// Bounded little-endian reading of the binary resource formats.
#include "platform/linux/byte_reader.h"

namespace layer {

namespace {

void AppendUtf8(std::string* out, uint16_t unit) {
    if (unit < 0x80) {
        out->push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (unit >> 6)));
        out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (unit >> 12)));
        out->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
}

}  // namespace

bool ByteReader::Has(size_t count) {
    if (failed_ || size_ - offset_ < count) {
        failed_ = true;
        return false;
    }
    return true;
}

uint16_t ByteReader::Word() {
    if (!Has(2)) {
        return 0;
    }
    uint16_t value = static_cast<uint16_t>(bytes_[offset_] | (bytes_[offset_ + 1] << 8));
    offset_ += 2;
    return value;
}

uint32_t ByteReader::Dword() {
    uint32_t low = Word();
    uint32_t high = Word();
    return low | (high << 16);
}

std::string ByteReader::WideString() {
    std::string text;
    for (uint16_t unit = Word(); unit != 0 && !failed_; unit = Word()) {
        AppendUtf8(&text, unit);
    }
    return text;
}

void ByteReader::NameOrOrdinal(uint16_t* ordinal, std::string* text) {
    *ordinal = 0;
    text->clear();
    uint16_t first = Word();
    if (first == 0xFFFF) {
        *ordinal = Word();
        return;
    }
    for (uint16_t unit = first; unit != 0 && !failed_; unit = Word()) {
        AppendUtf8(text, unit);
    }
}

void ByteReader::Skip(size_t count) {
    if (Has(count)) {
        offset_ += count;
    }
}

void ByteReader::AlignToDword() {
    size_t padding = (4 - offset_ % 4) % 4;
    if (size_ - offset_ < padding) {
        offset_ = size_;  // padding after the last entry may be missing
        return;
    }
    offset_ += padding;
}

}  // namespace layer
