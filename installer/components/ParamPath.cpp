#include "installer/components/ParamPath.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Regexp.h"
#include "common/runtime/fileops.h"

namespace {

const char* const allowed_path = "^/[[:alnum:]_[:blank:]()\\\\/-]+$";

} // namespace

ParamPath::ParamPath(const std::shared_ptr<AiComponent>& component, const std::string& id, bool mustExist)
    : Param(component, id), mustExist(mustExist) {}

const char* ParamPath::getType() const {
    return "path";
}

bool ParamPath::validate(const std::string& text) {
    validationDetail.clear();
    if (text.empty() || text[0] != '/') {
        validationDetail = Messages().getMessage("param_path_not_full");
        return false;
    }
    const bool exists = fileops::exists(text);
    if (exists && !fileops::is_directory(text)) {
        validationDetail = Messages().getMessage("param_path_not_directory");
        return false;
    }
    if (!Regexp(allowed_path, false).match(text.c_str())) {
        validationDetail = Messages().getMessage("param_path_contains_invalid_characters");
        Log::stream(3, true) << "DEBUG: The regular expression " << allowed_path
                             << " did not match the pattern " << text;
        return false;
    }
    if (mustExist && !exists) {
        validationDetail = Messages().getMessage("param_path_not_exists");
        return false;
    }
    return true;
}

void ParamPath::assign(const std::string& text) {
    acceptedValue = text;
    fileops::strip_trailing(acceptedValue, '/');
}
