// send-error-report install [--version VERSION]
//
// Reads one XML error report on standard input and posts it to the report address: the environment
// variable MOXEL_ERROR_REPORT_URL when set, else the address this program was built with.
// MOXEL_ERROR_REPORT_CA names a CA bundle to trust instead of the system's.
#include "reportsender/ReportSender.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

// Larger input is not a report of ours.
constexpr size_t maxReportBytes = 8 * 1024 * 1024;

std::string environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

int usage() {
    std::cerr << "usage: send-error-report install [--version VERSION] < report.xml\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "install") != 0)
        return usage();
    std::string productVersion;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 && i + 1 < argc)
            productVersion = argv[++i];
        else
            return usage();
    }

    std::string document;
    char buffer[65536];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
        document.append(buffer, size_t(std::cin.gcount()));
        if (document.size() > maxReportBytes) {
            std::cerr << "send-error-report: the report is larger than " << maxReportBytes << " bytes\n";
            return 1;
        }
    }
    if (document.empty()) {
        std::cerr << "send-error-report: no report on standard input\n";
        return 1;
    }

    curl_global_init(CURL_GLOBAL_DEFAULT);
    ReportSender sender(environment("MOXEL_ERROR_REPORT_URL", MOXEL_ERROR_REPORT_URL));
    sender.setCaFile(environment("MOXEL_ERROR_REPORT_CA", ""));
    std::string failure;
    const bool sent = sender.send(document, productVersion, failure);
    if (!sent)
        std::cerr << "send-error-report: " << failure << "\n";
    curl_global_cleanup();
    return sent ? 0 : 1;
}
