#include "app/Startup.h"

#include <cwctype>

int ParseRemotePort(const wchar_t* commandLine) {
    if (!commandLine || (commandLine[0] != L'-' && commandLine[0] != L'/') ||
        (commandLine[1] != L'c' && commandLine[1] != L'C')) {
        return 0;
    }
    const wchar_t* p = commandLine + 2;
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    if ((*p == L'-' || *p == L'+') && std::iswdigit(p[1])) {
        if (*p == L'-') {
            return -1;  // a negative number is no port
        }
        ++p;
    }
    if (!*p || !std::iswdigit(*p)) {
        // "-c" alone, or a word that is no number: the default port.
        return kRemoteDefaultPort;
    }
    unsigned long value = 0;
    for (; std::iswdigit(*p); ++p) {
        value = value * 10 + static_cast<unsigned long>(*p - L'0');
        if (value > 65535) {
            return -1;
        }
    }
    return value == 0 ? kRemoteDefaultPort : static_cast<int>(value);
}
