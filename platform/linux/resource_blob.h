// The compiled resource file (.res, the same one the Windows build links),
// embedded in the native binary by resources/ as one block of bytes.
#pragma once

extern "C" const unsigned char qor_resource_blob[];
extern "C" const unsigned char qor_resource_blob_end[];
