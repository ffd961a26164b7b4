#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"

#include <iostream>

void Options::printUsage() {
    static const char* const keys[] = {
        "usage_header",     "usage_install",    "usage_remove",   "usage_upgrade", "usage_selectors",
        "usage_list",       "usage_feedback",   "usage_download", "usage_proxy",   "usage_override",
        "usage_no_warn",    "usage_automation", "usage_web",      "usage_console", "usage_obsolete",
        "usage_deprecated", "usage_logging",    "usage_help",     "usage_end"};
    Messages messages;
    for (const char* key : keys)
        std::cout << messages.getMessage(key);
    std::cout.flush();
}

void Options::printCommands() {
    std::cout << Messages().getMessage("usage_commands");
    std::cout.flush();
}
