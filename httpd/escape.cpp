// Escaping names for HTML pages and URLs.

#include "httpd/internal.h"

#include <cctype>
#include <cstring>

size_t html_escape(const char* text, char* out, size_t size) {
    size_t n = 0;
    for (; text && *text; ++text) {
        const char* entity = nullptr;
        switch (*text) {
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '&':
            entity = "&amp;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        case '"':
            entity = "&quot;";
            break;
        }
        size_t len = entity ? strlen(entity) : 1;
        if (n + len >= size)
            break;
        memcpy(out + n, entity ? entity : text, len);
        n += len;
    }
    if (size)
        out[n] = '\0';
    return n;
}

size_t url_encode(const char* text, char* out, size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    size_t n = 0;
    for (; text && *text; ++text) {
        unsigned char ch = static_cast<unsigned char>(*text);
        int plain = isalnum(ch) || strchr("/-_.~", ch);
        size_t len = plain ? 1 : 3;
        if (n + len >= size)
            break;
        if (plain) {
            out[n] = static_cast<char>(ch);
        } else {
            out[n] = '%';
            out[n + 1] = hex[ch >> 4];
            out[n + 2] = hex[ch & 15];
        }
        n += len;
    }
    if (size)
        out[n] = '\0';
    return n;
}
