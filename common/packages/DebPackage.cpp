#include "common/packages/DebPackage.h"

#include "common/packages/DebVersion.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <boost/regex.hpp>

#include <cstring>

namespace {

// The rest of the line after the prefix, or null.
const char* after(const char* line, const char* prefix) {
    size_t length = strlen(prefix);
    return strncmp(line, prefix, length) == 0 ? line + length : nullptr;
}

} // namespace

DebPackage::DebPackage(const std::string& name, const std::string& versionText)
    : Package(name, std::make_unique<DebVersion>(versionText)) {}

DebPackage::~DebPackage() = default;

void DebPackage::readInfo() {
    SystemCmd command("dpkg -I -- " + util::shell_quote(getFileName()) + " control", SystemCmd::mode_read);
    char line[4096];
    while (fgets(line, sizeof line, command.stream)) {
        util::trim(line);
        if (const char* rest = after(line, "Package: "))
            setName(rest);
        else if (const char* rest = after(line, "Version: "))
            setVersion(std::make_unique<DebVersion>(rest));
        else if (const char* rest = after(line, "Architecture: "))
            setArch(rest);
    }
    command.check();
    if (!hasVersion())
        throw internal_error("common/DebPackage", 46);
    readFileStat();
}

bool DebPackage::isValidName(const std::string& name) {
    static const boost::regex rule("[a-z0-9][a-z0-9+.-]+(:[a-z0-9-]+)?");
    return boost::regex_match(name, rule);
}
