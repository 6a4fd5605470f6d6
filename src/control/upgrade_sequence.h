// The driver of the whole upgrade, on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns 0 on the early ends; otherwise the listener thread ends the process.
int RunUpgrade();
// "/admin/upgrade?tftp://A.B.C.D:PORT/NAME" for the current file name.
void FormatTriggerPath(char* out, size_t size, uint32_t localAddress, uint16_t port, const char* fileName);
void SendUpgradeTrigger(uint16_t port);
