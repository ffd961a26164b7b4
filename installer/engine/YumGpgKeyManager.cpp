#include "installer/engine/YumGpgKeyManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"

#include <algorithm>
#include <sstream>

namespace {

const char* const step = "removeInstalledMoxelKeys";
const char* const keysQuery =
    "rpm -qa 'gpg-pubkey*' --queryformat '%{Name}-%{Version}-%{Release} %{Summary}\\n'";

// rpm summarises a key as "gpg(<uid>)", from 4.17 on as "<uid> public key".
bool isMakerSummary(const std::string& summary) {
    const std::vector<std::string>& identities = YumGpgKeyManager::makerIdentities();
    return std::any_of(identities.begin(), identities.end(), [&summary](const std::string& identity) {
        return summary == "gpg(" + identity + ")" || summary == identity + " public key";
    });
}

// The key packages of the maker among the query's output lines.
void collectMakerKeys(const std::string& output, std::vector<std::string>& names) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            Log::stream(3, true) << "Unable to find whitespace delimeter in line: " << line;
            continue;
        }
        if (isMakerSummary(line.substr(blank + 1)))
            names.push_back(line.substr(0, blank));
    }
}

} // namespace

const std::vector<std::string>& YumGpgKeyManager::makerIdentities() {
    static const std::vector<std::string> identities = {"Moxel Release Team <release@moxel.invalid>",
                                                        "Moxel Packaging Team <packaging@moxel.invalid>"};
    return identities;
}

void YumGpgKeyManager::importKey(const std::string& key) {
    if (!oldKeysRemoved) {
        removeInstalledMoxelKeys();
        oldKeysRemoved = true;
    }
    runImport("/bin/rpm --import", key);
}

void YumGpgKeyManager::removeInstalledMoxelKeys() {
    std::ostringstream output;
    std::ostringstream errors;
    std::vector<std::string> names;
    try {
        if (exec::run_command(keysQuery, true, false, &output, &errors) != 0)
            throw error(error::system, 1, 1, 2) << "the query of installed keys failed";
        collectMakerKeys(output.str(), names);
    } catch (const error&) {
        Log::stream(2, true) << step << ": " << keysQuery << "\n" << errors.str();
    }
    if (names.empty())
        return;
    std::string removal = "rpm -e --allmatches --";
    for (const std::string& name : names)
        removal += " " + util::shell_quote(name);
    try {
        exec::run_command(removal, true, false, &errors, &errors);
    } catch (const error&) {
        Log::stream(2, true) << step << ": " << removal << "\n" << errors.str();
    }
}
