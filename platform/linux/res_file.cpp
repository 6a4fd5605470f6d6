// Reader of the compiled resource file (.res) that windres makes.
#include "platform/linux/res_file.h"

#include "platform/linux/byte_reader.h"

#include <strings.h>

namespace layer {

namespace {

// DataSize, HeaderSize, two one-word names, DataVersion, MemoryFlags,
// LanguageId, Version, Characteristics.
constexpr uint32_t kSmallestHeader = 32;

size_t AlignedToDword(size_t offset) {
    return (offset + 3) & ~static_cast<size_t>(3);
}

bool IsEmptyEntry(const ResourceEntry& entry) {
    return entry.size == 0 && entry.type.ordinal == 0 && entry.type.text.empty() && entry.name.ordinal == 0 &&
           entry.name.text.empty();
}

}  // namespace

bool ParseResFile(const uint8_t* bytes, size_t size, std::vector<ResourceEntry>* entries) {
    entries->clear();
    size_t offset = 0;
    while (offset < size) {
        ByteReader header(bytes + offset, size - offset);
        uint32_t dataSize = header.Dword();
        uint32_t headerSize = header.Dword();
        ResourceEntry entry;
        header.NameOrOrdinal(&entry.type.ordinal, &entry.type.text);
        header.NameOrOrdinal(&entry.name.ordinal, &entry.name.text);
        header.AlignToDword();
        header.Dword();  // DataVersion
        header.Word();   // MemoryFlags
        entry.language = header.Word();
        header.Dword();  // Version
        header.Dword();  // Characteristics
        if (header.Failed() || headerSize < kSmallestHeader || headerSize < header.Offset() ||
            headerSize > size - offset || dataSize > size - offset - headerSize) {
            return false;
        }
        entry.data = bytes + offset + headerSize;
        entry.size = dataSize;
        if (!IsEmptyEntry(entry)) {
            entries->push_back(entry);
        }
        offset = AlignedToDword(offset + headerSize + dataSize);
    }
    return true;
}

bool NameMatches(const ResourceName& name, const char* wanted) {
    uintptr_t value = reinterpret_cast<uintptr_t>(wanted);
    if ((value >> 16) == 0) {
        return name.text.empty() && name.ordinal == value;
    }
    return name.ordinal == 0 && strcasecmp(name.text.c_str(), wanted) == 0;
}

}  // namespace layer
