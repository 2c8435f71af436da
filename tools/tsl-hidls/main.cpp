// tsl-hidls: lists the attached HID devices as the gateway's hidapi sees them, one line each:
//   vvvv:pppp SERIAL "product"
// Options: -v VID and -p PID (hexadecimal) narrow the listing.

#include <hidapi.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::string narrow(const wchar_t *s)
{
    if (!s)
        return {};
    std::string out;
    std::mbstate_t state{};
    char buf[MB_LEN_MAX];
    for (; *s; ++s) {
        const size_t n = std::wcrtomb(buf, *s, &state);
        if (n == size_t(-1))
            out += '?';
        else
            out.append(buf, n);
    }
    return out;
}

int usage(const char *program)
{
    std::fprintf(stderr, "usage: %s [-v VID] [-p PID]   (ids in hexadecimal)\n", program);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    unsigned vid = 0;
    unsigned pid = 0;
    for (int i = 1; i < argc; ++i) {
        char *end = nullptr;
        if ((!std::strcmp(argv[i], "-v") || !std::strcmp(argv[i], "-p")) && i + 1 < argc) {
            const unsigned long value = std::strtoul(argv[i + 1], &end, 16);
            if (*end || value > 0xFFFF)
                return usage(argv[0]);
            (argv[i][1] == 'v' ? vid : pid) = unsigned(value);
            ++i;
        } else {
            return usage(argv[0]);
        }
    }

    if (hid_init() != 0) {
        std::fprintf(stderr, "%s: cannot initialise hidapi\n", argv[0]);
        return 1;
    }
    hid_device_info *list = hid_enumerate(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid));
    for (const hid_device_info *d = list; d; d = d->next)
        std::printf("%04x:%04x %s \"%s\"\n", d->vendor_id, d->product_id, narrow(d->serial_number).c_str(),
                    narrow(d->product_string).c_str());
    hid_free_enumeration(list);
    hid_exit();
    return 0;
}
