// Whether the device must take the Transition image before the Target one.
#pragma once

#include <cstdint>

// Folds up to three numeric components into one number: "2.0.13" -> 20013.
int32_t VersionNumber(const char* text);
// Leaves the stage at Transition or moves it to Target from the device's version.
void DecideStage();
