#include "common/runtime/error.h"

#include "common/runtime/Messages.h"
#include "common/runtime/ProgramInfo.h"

error::error() : error(0, 0, 0, 0) {}

error::error(int e_class, int repeat, int system_state, int support)
    : lines(1), e_class(e_class), repeat(repeat), system_state(system_state), support(support) {}

error& error::operator<<(const std::string& text) {
    lines.back() += text;
    return *this;
}

error& error::operator<<(const char* text) { return *this << std::string(text); }

error& error::operator<<(int value) { return *this << std::to_string(value); }

error& error::operator<<(char value) { return *this << std::string(1, value); }

error& error::addLine(int e_class, int repeat, int system_state, int support) {
    lines.emplace_back();
    classifyUnset(e_class, repeat, system_state, support);
    return *this;
}

error& error::prependLine(int e_class, int repeat, int system_state, int support) {
    lines.emplace_front();
    classifyUnset(e_class, repeat, system_state, support);
    return *this;
}

void error::classifyUnset(int e_class, int repeat, int system_state, int support) {
    auto set_if_unset = [](int& field, int value) {
        if (field == 0)
            field = value;
    };
    set_if_unset(this->e_class, e_class);
    set_if_unset(this->repeat, repeat);
    set_if_unset(this->system_state, system_state);
    set_if_unset(this->support, support);
}

error& error::setFlag(int flag) {
    flags.insert(flag);
    return *this;
}

bool error::hasFlag(int flag) const { return flags.count(flag) != 0; }

std::string error::getText() const {
    std::string text;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        text += *line + "\n";
    return text;
}

error& error::setSupport(int support) {
    this->support = support;
    return *this;
}

std::string error::getReport() const {
    std::string report = getText();
    if (e_class == user)
        return report;

    static const char* const state_keys[] = {"error_sys_stable", "error_sys_unsure", "error_sys_broken"};
    static const char* const support_keys[] = {"error_supp_none", "error_supp_maybe", "error_supp_need"};
    Messages messages;
    if (system_state >= 1 && system_state <= 3)
        report += messages.getMessage(state_keys[system_state - 1]);
    if (repeat == 2)
        report += "\n" + messages.getMessage("error_rep_again");
    if (support >= 1 && support <= 3)
        report += "\n" + messages.getMessage(support_keys[support - 1]);
    return report;
}

std::string error::getClassName() const {
    static const char* const names[] = {"repository", "user", "internal", "system", "dependencies", "packages"};
    if (e_class >= 1 && e_class <= 6)
        return names[e_class - 1];
    return "e_class broken";
}

error internal_error(const std::string& unit, int line) {
    error e(error::internal, 1, 1, 3);
    e << "An internal error occured in Moxel Installer " << program_info::version << ", revision "
      << program_info::revision << ", " << unit << ", line " << line << ".";
    return e;
}
