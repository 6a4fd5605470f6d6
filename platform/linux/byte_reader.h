// Bounded little-endian reading of the binary resource formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace layer {

class ByteReader {
public:
    ByteReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    size_t Offset() const { return offset_; }
    bool Failed() const { return failed_; }

    uint16_t Word();
    uint32_t Dword();
    // A NUL-terminated UTF-16 string, stored as UTF-8.
    std::string WideString();
    // The sz_Or_Ord field of the resource formats: 0xFFFF and an ordinal, or
    // a string (an empty one when the field is a single 0).
    void NameOrOrdinal(uint16_t* ordinal, std::string* text);
    void Skip(size_t count);
    // Moves to the next multiple of 4 from the start of the bytes.
    void AlignToDword();

private:
    bool Has(size_t count);

    const uint8_t* bytes_;
    size_t size_;
    size_t offset_ = 0;
    bool failed_ = false;
};

}  // namespace layer
