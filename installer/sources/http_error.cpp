#include "installer/sources/http_error.h"

http_error::http_error(const std::string& url, int64_t code, int e_class, int repeat, int system_state,
                       int support)
    : error(e_class, repeat, system_state, support), url(url), code(code) {}
