#include "hidplayback.h"

#include <hidapi.h>

#include <algorithm>
#include <cstring>

struct hid_device_
{
    int unused;
};

namespace {
hid_device_ g_device;
const uint8_t *g_data = nullptr;
size_t g_size = 0;
size_t g_pos = 0;
bool g_openFails = false;

int take(unsigned char *buf, size_t length, size_t keep)
{
    if (g_pos >= g_size)
        return 0;
    const uint8_t control = g_data[g_pos++];
    if (control == 0xff)
        return -1;
    size_t n = control % (length + 1);
    n = std::min(n, g_size - g_pos);
    if (n > keep) {
        std::memcpy(buf + keep, g_data + g_pos + keep, n - keep);
    }
    g_pos += n;
    return int(n);
}
} // namespace

namespace HidPlayback {
void load(const uint8_t *data, size_t size)
{
    g_data = data;
    g_size = size;
    g_pos = 0;
}
bool exhausted()
{
    return g_pos >= g_size;
}
void setOpenFails(bool fails)
{
    g_openFails = fails;
}
} // namespace HidPlayback

extern "C" {
int hid_init(void)
{
    return 0;
}
int hid_exit(void)
{
    return 0;
}
hid_device_info *hid_enumerate(unsigned short, unsigned short)
{
    return nullptr;
}
void hid_free_enumeration(hid_device_info *) {}
hid_device *hid_open(unsigned short, unsigned short, const wchar_t *)
{
    return g_openFails ? nullptr : &g_device;
}
int hid_set_nonblocking(hid_device *, int)
{
    return 0;
}
int hid_read(hid_device *, unsigned char *data, size_t length)
{
    return take(data, length, 0);
}
// The report id in the first byte stays what the caller asked for.
int hid_get_feature_report(hid_device *, unsigned char *data, size_t length)
{
    return take(data, length, 1);
}
int hid_write(hid_device *, const unsigned char *, size_t length)
{
    if (g_pos >= g_size)
        return int(length);
    return (g_data[g_pos++] & 0x80) ? -1 : int(length);
}
void hid_close(hid_device *) {}
const wchar_t *hid_error(hid_device *)
{
    return L"played back";
}
}
