#pragma once

#include <string>

// Delivers one error report by HTTP(S) POST. Connect and total time-outs keep a dead or slow
// receiver from holding the process for long.
class ReportSender {
public:
    explicit ReportSender(std::string url);

    // A CA bundle to trust instead of the system's; empty: the system's.
    void setCaFile(const std::string& path) { caFile = path; }

    // False, with the reason in `failure`, when the report did not reach the receiver with a 2xx answer.
    bool send(const std::string& document, const std::string& productVersion, std::string& failure) const;

    static constexpr long connectTimeoutSeconds = 15;
    static constexpr long totalTimeoutSeconds = 60;

private:
    std::string addressWith(const std::string& productVersion) const;

    std::string url;
    std::string caFile;
};
