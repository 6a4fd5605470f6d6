// Whether the device must take the Transition image before the Target one.
// The decision itself is pure; DecideStage applies it to the shared state.
#pragma once

#include "src/shared/upgrade_state.h"

#include <cstdint>

// Folds up to three numeric components into one number: "2.0.13" -> 20013.
int32_t VersionNumber(const char* text);
// -1, 0 or 1 as the version number of `a` is below, equal to or above that
// of `b`, compared as signed 32-bit numbers.
int CompareVersions(const char* a, const char* b);
// The stage to start with for a device reporting `deviceVersion`, given the
// Transition image's version: Transition first, or straight to Target.
Stage ChooseStage(const char* deviceVersion, const char* transitionVersion);
// Leaves the stage at Transition or moves it to Target from the device's version.
// Main thread, after the first device query and before the listener exists.
void DecideStage();
