#pragma once

#include "common/runtime/error.h"

#include <cstdint>
#include <string>

// A download that failed over HTTP: callers read the URL and the server's answer, which is 0 when
// no answer arrived at all.
class http_error : public error {
public:
    http_error(const std::string& url, int64_t code, int e_class, int repeat, int system_state, int support);

    const std::string& getUrl() const { return url; }
    int64_t getCode() const { return code; }

private:
    std::string url;
    int64_t code;
};
