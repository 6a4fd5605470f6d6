// Fuzz target: ExtractPageField never reads past the page nor writes past a
// 128-byte DeviceInfo field, whatever the page holds.
#include "src/web/http_exchange.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct GuardedField {
    char field[128];
    char guard[16];
};

void ExtractAndCheck(const char* page, const char* label) {
    GuardedField value;
    memset(&value, 'G', sizeof value);
    value.field[0] = '\0';
    ExtractPageField(page, label, value.field, 127);
    if (memchr(value.field, '\0', sizeof value.field) == nullptr) {
        abort();
    }
    for (char guard : value.guard) {
        if (guard != 'G') {
            abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string page(reinterpret_cast<const char*>(data), size);
    for (const char* label :
         {"Product Name:", "MAC Address:", "Software Version:", "Hardware Version:", "Serial Number:", "<", ">"}) {
        ExtractAndCheck(page.c_str(), label);
    }
    return 0;
}
