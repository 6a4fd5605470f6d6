// The two embedded firmware images and the product they identify.
#pragma once

void LoadFirmwareImages();
void IdentifyProduct();
