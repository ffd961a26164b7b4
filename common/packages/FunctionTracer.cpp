#include "common/packages/FunctionTracer.h"

#include "common/runtime/Log.h"

FunctionTracer::FunctionTracer(std::string text)
    : text(std::move(text)), uncaught(std::uncaught_exceptions()) {
    Log::stream(3, true) << "DEBUG: function entry [" << this->text << "]";
}

FunctionTracer::~FunctionTracer() {
    // Only an exception thrown after construction counts, not one already unwinding the caller.
    if (std::uncaught_exceptions() > uncaught)
        Log::stream(3, true) << "DEBUG: function exception [" << text << "]";
    else
        Log::stream(3, true) << "DEBUG: function return [" << text << "]";
}
