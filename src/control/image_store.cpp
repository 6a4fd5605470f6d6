// The two firmware images embedded as "QOR_FIRMWARE" resources, and the
// product that the Target image's tag names.
#include "src/control/image_store.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"

#include <cstdio>
#include <cstring>

namespace {

struct ProductRow {
    const char* tag;
    const char* displayName;
    int32_t handsetVariant;
};

// Tested in this order; the first tag that matches wins.
constexpr ProductRow kProducts[] = {
    {"qor7300", "QOR-7300", 0}, {"qor7200", "QOR-7100/7200", 0}, {"qor7101", "QOR-7101", 0},
    {"orvela", "QOR-540", 1},   {"qor7210", "QOR-7210", 0},
};
constexpr char kUnknownProduct[] = "ODM-Product";

void LoadImage(int id, FirmwareImage* image) {
    HRSRC resource = FindResourceA(upgradeState.instance, MAKEINTRESOURCEA(id), "QOR_FIRMWARE");
    image->size = SizeofResource(upgradeState.instance, resource);
    image->bytes = static_cast<const uint8_t*>(LockResource(LoadResource(upgradeState.instance, resource)));
    // The build refuses images shorter than their header; this only guards a broken executable.
    if (image->bytes == nullptr || image->size < kHeaderSize) {
        FailUpgrade(text::kImageMissing);
    }
    memcpy(image->header, image->bytes, kHeaderSize);
}

char LowerAscii(uint8_t c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Plain ASCII folding over the tag's whole length; a NUL in the header ends it as a mismatch.
bool TagMatches(const uint8_t* header, const char* tag) {
    for (size_t i = 0; tag[i] != '\0'; ++i) {
        if (LowerAscii(header[i]) != tag[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

void LoadFirmwareImages() {
    LoadImage(IDR_TARGET_IMAGE, &upgradeState.targetImage);
    LoadImage(IDR_TRANSITION_IMAGE, &upgradeState.transitionImage);
}

void IdentifyProduct() {
    upgradeState.handsetVariant = 0;
    for (const ProductRow& row : kProducts) {
        if (TagMatches(upgradeState.targetImage.header, row.tag)) {
            snprintf(upgradeState.displayName, sizeof upgradeState.displayName, "%s", row.displayName);
            upgradeState.handsetVariant = row.handsetVariant;
            return;
        }
    }
    snprintf(upgradeState.displayName, sizeof upgradeState.displayName, "%s", kUnknownProduct);
}
