#include "meteridentity.h"

#include "protocol.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

// `count` hexadecimal digits (count 0: one or more, up to the end) at `text`,
// as a number; false for anything else.
bool hexField(const std::string &text, std::size_t at, std::size_t count, unsigned long &value)
{
    const std::size_t end = count == 0 ? text.size() : at + count;
    if (end > text.size() || end == at)
        return false;
    value = 0;
    for (std::size_t i = at; i < end; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        value = (value << 4) | static_cast<unsigned long>(digit);
        if (value > 0xFFFFFFFFul)
            return false;
    }
    return true;
}

} // namespace

bool isMeterHidrawPath(const char *devpath)
{
    if (devpath == nullptr)
        return false;
    const std::string path(devpath);
    // ".../<parent>/hidraw/<node>"
    const std::size_t nodeSlash = path.rfind('/');
    if (nodeSlash == std::string::npos || nodeSlash < 7 || path.compare(nodeSlash - 7, 7, "/hidraw") != 0)
        return false;
    const std::size_t parentEnd = nodeSlash - 7;
    const std::size_t parentSlash = path.rfind('/', parentEnd - 1);
    const std::size_t parentStart = parentSlash == std::string::npos ? 0 : parentSlash + 1;
    const std::string parent = path.substr(parentStart, parentEnd - parentStart);

    // "BBBB:VVVV:PPPP.N..."
    unsigned long bus, vendor, product, instance;
    return parent.size() >= 16 && parent[4] == ':' && parent[9] == ':' && parent[14] == '.'
           && hexField(parent, 0, 4, bus) && hexField(parent, 5, 4, vendor) && hexField(parent, 10, 4, product)
           && hexField(parent, 15, 0, instance) && vendor == METER_VENDOR_ID && product == METER_PRODUCT_ID;
}

bool isMeterInterfaceName(const wchar_t *name)
{
    wchar_t ids[32];
    std::swprintf(ids, sizeof(ids) / sizeof(ids[0]), L"VID_%04X&PID_%04X", unsigned(METER_VENDOR_ID),
                  unsigned(METER_PRODUCT_ID));
    const std::size_t idsLength = std::wcslen(ids);
    for (const wchar_t *at = name; at != nullptr && *at != L'\0'; ++at) {
        std::size_t matched = 0;
        while (matched < idsLength && at[matched] != L'\0'
               && std::towupper(static_cast<wint_t>(at[matched])) == static_cast<wint_t>(ids[matched]))
            ++matched;
        if (matched == idsLength)
            return true;
    }
    return false;
}
