// Reader of the compiled resource file (.res) that windres makes: a run of
// entries, each a RESOURCEHEADER followed by its data, both DWORD-aligned.
// Pure: it looks only at the bytes it is given and never copies the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace layer {

// A resource type or name: an ordinal (0xFFFF + WORD in the file) or a string.
struct ResourceName {
    uint16_t ordinal = 0;  // 0 when the name is a string
    std::string text;      // the string, as stored (windres stores it upper case)
};

struct ResourceEntry {
    ResourceName type;
    ResourceName name;
    uint16_t language = 0;
    const uint8_t* data = nullptr;  // points into the file's bytes
    uint32_t size = 0;
};

// Reads every entry of `bytes`, skipping the empty first one. False when
// the file is cut short or a header is malformed; `entries` then holds the
// entries before the fault.
bool ParseResFile(const uint8_t* bytes, size_t size, std::vector<ResourceEntry>* entries);

// True when `name` is the ordinal `id` (a MAKEINTRESOURCE value) or equals
// the string `text` without regard to case.
bool NameMatches(const ResourceName& name, const char* wanted);

}  // namespace layer
