#include "installer/driver/ReportError.h"

#include "common/runtime/Log.h"

#include <mutex>

namespace {

std::mutex textLock;

std::string& reportText() {
    static std::string text;
    return text;
}

} // namespace

ReportError::Stream& ReportError::Stream::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    std::ostringstream text;
    manipulator(text);
    return write(text.str());
}

ReportError::Stream& ReportError::Stream::write(const std::string& text) {
    if (text.empty())
        return *this;
    if (level >= 0)
        Log::stream(level, false) << text;
    std::lock_guard<std::mutex> hold(textLock);
    reportText() += text;
    return *this;
}

std::string ReportError::text() {
    std::lock_guard<std::mutex> hold(textLock);
    return reportText();
}
