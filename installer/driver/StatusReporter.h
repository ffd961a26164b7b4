#pragma once

#include "installer/driver/Reporter.h"

#include <string>

// A result record followed by the shared progress record of the running or last installation.
class StatusReporter : public Reporter {
public:
    StatusReporter(int code, const std::string& message);

    std::ostream& put(std::ostream& out) const override;
};
