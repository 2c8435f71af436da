#pragma once

#include <cstddef>
#include <cstdint>

// hidapi played back from a fuzz input: every read, feature report and write takes its answer
// from the next bytes of the input, so the decoders see whatever a device could send.
//
// A read or feature report takes one control byte: 0xff fails the call, otherwise its value
// modulo (buffer size + 1) is the number of bytes that follow and are returned. A write takes one
// byte: bit 7 set fails it. An exhausted input answers reads with 0 bytes and writes with success.
namespace HidPlayback {

void load(const uint8_t *data, size_t size);
bool exhausted();
// hid_open fails while this is set.
void setOpenFails(bool fails);

} // namespace HidPlayback
