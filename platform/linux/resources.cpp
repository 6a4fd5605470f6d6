// FindResourceA and friends over the compiled resources linked into the
// binary (resource_blob.h). The data is handed out in place, never copied.
#include "platform/linux/res_file.h"
#include "platform/linux/resource_blob.h"
#include "platform/win.h"

#include <cstdio>
#include <vector>

namespace {

const std::vector<layer::ResourceEntry>& Entries() {
    static const std::vector<layer::ResourceEntry> entries = [] {
        std::vector<layer::ResourceEntry> parsed;
        size_t size = static_cast<size_t>(qor_resource_blob_end - qor_resource_blob);
        if (!layer::ParseResFile(qor_resource_blob, size, &parsed)) {
            std::fprintf(stderr, "platform: the embedded resource file is damaged after %zu entries\n", parsed.size());
        }
        return parsed;
    }();
    return entries;
}

const layer::ResourceEntry* EntryOf(HRSRC resource) {
    const std::vector<layer::ResourceEntry>& entries = Entries();
    auto* entry = reinterpret_cast<const layer::ResourceEntry*>(resource);
    if (entries.empty() || entry < &entries.front() || entry > &entries.back()) {
        return nullptr;
    }
    return entry;
}

}  // namespace

HRSRC FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
    for (const layer::ResourceEntry& entry : Entries()) {
        if (layer::NameMatches(entry.type, type) && layer::NameMatches(entry.name, name)) {
            return reinterpret_cast<HRSRC>(const_cast<layer::ResourceEntry*>(&entry));
        }
    }
    return nullptr;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    const layer::ResourceEntry* entry = EntryOf(resource);
    return entry == nullptr ? 0 : entry->size;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    const layer::ResourceEntry* entry = EntryOf(resource);
    return entry == nullptr ? nullptr : const_cast<uint8_t*>(entry->data);
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}
