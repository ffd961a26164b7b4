#include "installer/patches/MUEntity.h"

#include "common/runtime/Messages.h"

MUEntity::~MUEntity() = default;

std::string MUEntity::stepText(const char* key, const std::string& subject) {
    std::string escaped;
    for (char c : subject) {
        escaped += c;
        if (c == '%')
            escaped += '%';
    }
    Messages messages;
    return messages.getMessage(key) + messages.getMessage("mu_total_progress") + escaped;
}
