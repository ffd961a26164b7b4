#pragma once

#include <exception>
#include <string>

// Logs the entry and the exit of one resolver operation at debug level; the exit line tells
// whether an exception is leaving the operation.
class FunctionTracer {
public:
    explicit FunctionTracer(std::string text);
    FunctionTracer(const FunctionTracer&) = delete;
    FunctionTracer& operator=(const FunctionTracer&) = delete;
    ~FunctionTracer();

private:
    std::string text;
    int uncaught;
};
