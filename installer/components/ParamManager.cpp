#include "installer/components/ParamManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Regexp.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamDomain.h"
#include "installer/components/ParamEmail.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamFloat.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamHostname.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamPath.h"
#include "installer/components/ParamStatic.h"
#include "installer/components/ParamString.h"
#include "installer/components/ParamUrl.h"
#include "installer/driver/Options.h"

#include <algorithm>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const unit = "installer/ParamManager";

ParamManager* the_manager = nullptr;

// The language part of the locale name: "de_DE" for "de_DE.UTF-8".
std::string localeLanguage() {
    const std::string& locale = Messages::getLocale();
    return locale.substr(0, locale.find('.'));
}

// Passwords and secure values stay out of the log and of error texts.
std::string shownValue(const Param& param, const std::string& value) {
    if (param.behaviourMode == Param::secure || dynamic_cast<const ParamPassword*>(&param))
        return "********";
    return value;
}

std::string shownQuotedValue(const Param& param) {
    const std::string shown = shownValue(param, param.acceptedValue);
    return shown == param.acceptedValue ? util::escape_c_string(shown) : shown;
}

std::string settingsLine(const std::string& id, const std::string& value) {
    return id + "=" + util::escape_c_string(value) + "\n";
}

std::string settingsLine(const Param& param) {
    return settingsLine(param.id, param.acceptedValue);
}

std::string productOf(const Param& param) {
    return param.getComponents().front()->getProductId();
}

bool isSettingElement(const std::string& name) {
    return name == "group" || name == "setting";
}

// Replaces each "[key]" whose key `lookup` knows. After an empty replacement the search goes on
// where the reference stood.
template <typename Lookup> void replaceReferences(std::string& text, Lookup lookup) {
    std::string::size_type position = 0;
    for (;;) {
        const std::string::size_type open = text.find('[', position);
        if (open == std::string::npos)
            return;
        const std::string::size_type close = text.find(']', open);
        if (close == std::string::npos)
            return;
        std::string value;
        if (!lookup(text.substr(open + 1, close - open - 1), value)) {
            position = close;
            continue;
        }
        text.replace(open, close - open + 1, value);
        position = value.empty() ? open : open + value.size() - 1;
    }
}

// The process's file-creation mask, changed for the life of the object.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : saved(::umask(mask)) {}
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;
    ~UmaskGuard() { ::umask(saved); }

private:
    mode_t saved;
};

std::string withoutTrailingNewline(std::string text) {
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Parameters files go below the panel's directory, where the installer keeps files of its own.
const char* const parametersRoot = "/usr/local/zeq";

error outsideParametersRoot(const std::string& productId, const std::string& named) {
    return error(error::repository, 1, 1, 3)
           << "The build of product " << productId << " names the parameters file "
           << util::escape_c_string(named) << ", which is not a path below " << parametersRoot
           << " without '..' components and symbolic links.";
}

// The parameters file a build names, below parametersRoot (a relative name is taken from there);
// "" when it names none. The name comes from the installation source: one that leads elsewhere raises.
std::string confinedParametersPath(const std::string& productId, const std::string& named) {
    if (named.empty())
        return named;
    const std::string root = std::string(parametersRoot) + "/";
    std::string relative = named;
    if (named[0] == '/') {
        if (named.compare(0, root.size(), root) != 0)
            throw outsideParametersRoot(productId, named);
        relative = named.substr(root.size());
    }
    std::string path = parametersRoot;
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        const std::string part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        struct stat st;
        path += "/" + part;
        if (part == ".." || (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
            throw outsideParametersRoot(productId, named);
    }
    if (path == parametersRoot)
        throw outsideParametersRoot(productId, named);
    return path;
}

// A new empty file that only its owner may read or write.
std::string privateTemporaryFile() {
    std::string path = "/tmp/moxel-params.XXXXXX";
    const int fd = ::mkostemp(&path[0], O_CLOEXEC);
    if (fd == -1)
        throw error(error::system, 1, 1, 2) << Messages().format("err_file_create", path);
    ::close(fd);
    return path;
}

// What options.ini holds now; what cannot be read is left out.
ParamManager::values_t savedValues() {
    Options saved;
    try {
        saved.readComponentOptions();
    } catch (const error& e) {
        Log::stream(1, true) << withoutTrailingNewline(e.getText());
    }
    return saved.componentSettings;
}

} // namespace

void expandMacros(std::string& text) {
    std::string language = localeLanguage();
    if (language.size() > 3 && language[2] == '_')
        language[2] = '-';
    const std::map<std::string, std::string> macros = {{"LOCALE", language}};
    replaceReferences(text, [&macros](const std::string& key, std::string& value) {
        const auto found = macros.find(key);
        if (found == macros.end())
            return false;
        value = found->second;
        return true;
    });
}

// ---------------------------------------------------------------------------------------------------------
// Visitors

void ParamManager::Visitor::begin() {}
void ParamManager::Visitor::visit(const param_ptr_t& /*param*/) {}
void ParamManager::Visitor::beginSubParams(const param_ptr_t& /*param*/) {}
void ParamManager::Visitor::beginBranch(const param_ptr_t& /*param*/, const std::string& /*branch*/) {}
void ParamManager::Visitor::endBranch(const param_ptr_t& /*param*/, const std::string& /*branch*/) {}
void ParamManager::Visitor::endSubParams(const param_ptr_t& /*param*/) {}
void ParamManager::Visitor::end() {}
ParamManager::Visitor::~Visitor() = default;

ParamManager::ParamLoader::ParamLoader(Options* options) : values(&options->componentSettings) {}

ParamManager::ParamLoader::ParamLoader(const values_t* values) : values(values) {}

void ParamManager::ParamLoader::visit(const param_ptr_t& param) {
    Log::stream(3, true) << "ParamManager::ParamLoader::visit: entry";
    if (dynamic_cast<ParamStatic*>(param.get()) || dynamic_cast<ParamHidden*>(param.get()))
        return;
    const std::string product = productOf(*param);
    if (product.empty())
        throw internal_error(unit, 447);

    const auto settings = values->find(product);
    if (settings == values->end())
        return;
    const auto entry = settings->second.find(param->id);
    if (entry == settings->second.end())
        return;
    const std::string& value = entry->second;
    const std::string shown = shownValue(*param, value);

    if (param->is_readonly()) {
        Log::stream(2, true) << "DEBUG: ParamLoader: skip of set read-only option: [" << product << "]["
                             << param->id << "]=" << shown;
        return;
    }
    Log::stream(2, true) << "DEBUG: ParamLoader: set component from option: [" << product << "][" << param->id
                         << "]=" << shown;
    if (param->setValue(value))
        return;
    Log::stream(3, true) << "DEBUG: ParamLoader: Set param error: " << param->getErrorMessage();
    errors << Messages().format("err_param_invalid", param->id, shown) << " : " << param->getErrorMessage()
           << "\n";
}

ParamManager::ParamFileSaver::ParamFileSaver(std::string& out, const values_t& earlier)
    : earlier(earlier), out(out) {}

ParamManager::ParamFileSaver::~ParamFileSaver() {
    std::map<std::string, std::string> blocks;
    for (const auto& product : products)
        for (const param_ptr_t& param : product.second)
            blocks[product.first] += settingsLine(*param);
    for (const auto& product : earlier)
        for (const auto& setting : product.second)
            if (!met.count({product.first, setting.first}))
                blocks[product.first] += settingsLine(setting.first, setting.second);
    if (blocks.empty()) {
        Log::stream(3, true) << "ParamManager::ParamFileSaver::~ParamFileSaver: nothing to dump";
        return;
    }
    for (const auto& block : blocks)
        out += "[" + block.first + "]\n" + block.second + "\n\n\n";
}

void ParamManager::ParamFileSaver::visit(const param_ptr_t& param) {
    const std::string product = productOf(*param);
    // What was saved for a setting of this run gives way to its present value, or to nothing.
    met.insert({product, param->id});
    if (dynamic_cast<ParamStatic*>(param.get()) || dynamic_cast<ParamHidden*>(param.get()))
        return;
    if (!param->hasValue() || param->behaviourMode != Param::regular)
        return;
    if (product.empty()) {
        Log::stream(0, true) << "ERROR: ParamManager: param " << param->id << " without product ID";
        return;
    }
    products[product].push_back(param);
}

ParamManager::ParamFileExport::file_t::file_t(const std::string& productId, const std::string& named)
    : productId(productId), path(confinedParametersPath(productId, named)),
      o(std::make_unique<std::ostringstream>()) {
    struct stat st;
    if (!path.empty() && fileops::exists(path) && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
        Log::stream(0, true) << "ERROR: can't rewrite non-regular file " << path;
        discarded = true;
    }
    Log::stream(3, true) << "DEBUG: ParamManager::ParamFileExport::file_t::file_t create "
                         << static_cast<const void*>(o.get());
}

ParamManager::ParamFileExport::file_t::~file_t() {
    Log::stream(3, true) << "ParamManager::ParamFileExport::file_t::~file_t: o = "
                         << static_cast<const void*>(o.get());
}

void ParamManager::ParamFileExport::file_t::write() {
    const bool temporary = path.empty();
    if (temporary) {
        path = privateTemporaryFile();
        Log::stream(2, true) << "The build of product " << productId << " names no parameters file; using "
                             << path;
    }
    try {
        // Secure values go into this file: no one but the owner may read it.
        fileops::write_file(path, o->str(), 0600);
    } catch (error& e) {
        if (temporary)
            ::unlink(path.c_str());
        e.addLine(error::system, 1, 1, 2) << Messages().format("err_file_create", path);
        throw;
    }
}

ParamManager::ParamFileExport::~ParamFileExport() = default;

void ParamManager::ParamFileExport::visit(const param_ptr_t& param) {
    if (!param->hasValue())
        return;
    const std::shared_ptr<AiComponent>& component = param->getComponents().front();
    const std::string product = component->getProductId();
    auto file = std::find_if(files.begin(), files.end(), [&product](const std::shared_ptr<file_t>& f) {
        return f->productId == product;
    });
    if (file == files.end()) {
        files.push_back(std::make_shared<file_t>(product, component->build->_parameters_file));
        file = files.end() - 1;
    }
    Log::stream(3, true) << "DEBUG: export to file param " << param->id << "=" << shownQuotedValue(*param);
    Log::stream(3, true) << " file " << static_cast<const void*>((*file)->o.get());
    *(*file)->o << settingsLine(*param);
}

// ---------------------------------------------------------------------------------------------------------
// The manager

ParamManager::ParamManager() {
    the_manager = this;
}

ParamManager::~ParamManager() {
    try {
        saveOptionsFile();
    } catch (...) {
        // saveOptionsFile logs its failures itself.
    }
    for (const std::string& path : exportedFiles) {
        try {
            fileops::remove(path);
        } catch (const error& e) {
            Log::stream(0, true) << withoutTrailingNewline(e.getText());
        } catch (const std::exception& e) {
            Log::stream(0, true) << e.what();
        }
    }
    if (the_manager == this)
        the_manager = nullptr;
}

ParamManager* ParamManager::instance() {
    return the_manager;
}

void ParamManager::prepare(ComponentManager& /*components*/) {}

void ParamManager::loadSettings(const std::shared_ptr<AiComponent>& component,
                                const tinybind::Element& settings) {
    for (tinybind::ChildIterator child(settings, ""), end; child != end; ++child)
        create(topLevelParams, component, *child, nullptr, "");
}

void ParamManager::dropSettingsOf(const std::shared_ptr<AiComponent>& component) {
    topLevelParams.erase(std::remove_if(topLevelParams.begin(), topLevelParams.end(),
                                        [&component](const param_ptr_t& param) {
                                            return param->getComponents().front() == component;
                                        }),
                         topLevelParams.end());
}

void ParamManager::create(params_t& topLevel, const std::shared_ptr<AiComponent>& component,
                          const tinybind::Element& element, const std::shared_ptr<SubParams>& parent,
                          const std::string& branch) {
    const std::string name = element.name();
    param_ptr_t param;
    if (name == "group") {
        param = std::make_shared<ParamGroup>(component, "__SUBGROUP");
        param->setTexts("__group_cant_have_name__", get_localized_text_from_subnode(element, "description"),
                        "__group_cant_have_errmsg__");
    } else if (name != "setting") {
        throw error(error::repository, 1, 1, 3) << "Unsupported tag <" << name << "> in config.";
    } else {
        param = createSetting(topLevel, component, element);
        if (!param)
            throw internal_error(unit, 95);
    }

    // Placed before its nested settings are read, so every list stays in document order.
    if (parent) {
        parent->addToBranch(branch, param);
    } else {
        Log::stream(3, true) << "ParamManager::create: push back " << param->id;
        topLevel.push_back(param);
    }

    const std::shared_ptr<SubParams> sub = std::dynamic_pointer_cast<SubParams>(param);
    if (!sub)
        return;
    const std::string type = element.attribute("type");
    if (type == "enum") {
        for (tinybind::ChildIterator choice(element, "choice"), end; choice != end; ++choice) {
            const std::string choiceId = (*choice).attribute("id");
            for (tinybind::ChildIterator child(*choice, ""), last; child != last; ++child)
                if (isSettingElement((*child).name()))
                    create(topLevel, component, *child, sub, choiceId);
        }
        return;
    }
    const std::string nestedBranch = type == "boolean" ? "true" : "";
    for (tinybind::ChildIterator child(element, ""), end; child != end; ++child)
        if (isSettingElement((*child).name()))
            create(topLevel, component, *child, sub, nestedBranch);
}

param_ptr_t ParamManager::createSetting(params_t& /*topLevel*/, const std::shared_ptr<AiComponent>& component,
                                        const tinybind::Element& element) {
    if (element.name() != "setting")
        throw internal_error(unit, 167);
    const std::string id = element.attribute("id");
    const std::string type = element.attribute("type");
    if (!Regexp("^[a-zA-Z0-9_-]+$", false).match(id.c_str()))
        throw error(error::repository, 1, 1, 3) << "ERROR: invalid '<setting id=' in config: '" << id << "'";

    const std::string name = get_localized_text_from_subnode(element, "name");
    const std::string description = get_localized_text_from_subnode(element, "description");
    const std::string errorText = get_localized_text_from_subnode(element, "error-message");

    param_ptr_t param;
    if (type == "integer") {
        param =
            std::make_shared<ParamInteger>(component, id, element.attribute("min"), element.attribute("max"));
    } else if (type == "boolean") {
        param = std::make_shared<ParamBool>(component, id);
    } else if (type == "string") {
        param = std::make_shared<ParamString>(component, id, element.attribute("min-length"),
                                              element.attribute("max-length"), element.attribute("regex"));
    } else if (type == "password") {
        param = std::make_shared<ParamPassword>(component, id, element.attribute("min-length"),
                                                element.attribute("max-length"), element.attribute("regex"),
                                                element.attribute("validate-with-login"));
    } else if (type == "float") {
        param =
            std::make_shared<ParamFloat>(component, id, element.attribute("min"), element.attribute("max"));
    } else if (type == "email") {
        param = std::make_shared<ParamEmail>(component, id);
    } else if (type == "domain-name") {
        param = std::make_shared<ParamDomain>(component, id);
    } else if (type == "host-name") {
        param = std::make_shared<ParamHostname>(component, id);
    } else if (type == "static-text") {
        param = std::make_shared<ParamStatic>(component, id);
    } else if (type == "hidden") {
        param = std::make_shared<ParamHidden>(component, id);
    } else if (type == "enum") {
        ParamEnum::choices_t choices;
        for (tinybind::ChildIterator choice(element, "choice"), end; choice != end; ++choice)
            choices.emplace_back((*choice).attribute("id"), get_localized_text_from_subnode(*choice, "name"));
        auto choiceParam = std::make_shared<ParamEnum>(component, id);
        choiceParam->setChoices(choices);
        param = choiceParam;
    } else if (type == "path") {
        param = std::make_shared<ParamPath>(component, id, element.boolAttribute("exists"));
    } else if (type == "url") {
        param = std::make_shared<ParamUrl>(component, id);
    } else {
        throw error(error::repository, 1, 1, 3) << "Unsupported 'setting type' in config: " << type;
    }
    param->setTexts(name, description, errorText);

    const std::string behaviour = element.attribute("behaviour");
    if (behaviour == "secure") {
        param->behaviourMode = Param::secure;
    } else if (behaviour == "detectable") {
        param->behaviourMode = Param::detectable;
        element.child("read-setting-value");
        // Read for the description's sake; it changes nothing.
        (void)(element.attribute("lock") == "true");
    } else if (!behaviour.empty() && behaviour != "regular") {
        throw error(error::repository, 1, 1, 3) << "Unsupported attribute 'behaviour' value " << behaviour;
    }

    std::string defaultValue;
    if (tinybind::readAttribute(defaultValue, element.get(), "default-value"))
        param->setDefault(defaultValue);
    return param;
}

std::string ParamManager::get_localized_text_from_subnode(const tinybind::Element& element,
                                                          const std::string& subnode) {
    const std::string lang = localeLanguage();
    Log::stream(3, true) << "DEBUG: ParamManager::get_localized_text_from_subnode. Find for lang=" << lang;
    std::string result;
    for (tinybind::ChildIterator child(element, subnode), end; child != end; ++child) {
        if (result.empty())
            result = (*child).text(false);
        if ((*child).attribute("lang") == lang)
            result = (*child).text(false);
    }
    return result;
}

void ParamManager::accept(Visitor& visitor, const param_ptr_t& from, bool editableOnly) {
    bool started = !from;
    visitor.begin();
    for (const param_ptr_t& param : params_t(topLevelParams)) {
        if (editableOnly && (param->hasUnselectedComponent() || param->is_readonly()))
            continue;
        if (param == from)
            started = true;
        walk(visitor, param, from, started);
    }
    visitor.end();
}

void ParamManager::walk(Visitor& visitor, const param_ptr_t& param, const param_ptr_t& from, bool& started) {
    if (started)
        visitor.visit(param);
    const std::shared_ptr<SubParams> sub = std::dynamic_pointer_cast<SubParams>(param);
    if (!sub)
        return;
    if (started)
        visitor.beginSubParams(param);

    // The visit may just have set the value: the branch is chosen after it.
    std::vector<std::string> branches;
    if (sub->hasValue()) {
        if (sub->branchMap.count(sub->acceptedValue))
            branches.push_back(sub->acceptedValue);
    } else {
        branches = sub->getBranchNames();
    }
    for (const std::string& branch : branches) {
        if (started)
            visitor.beginBranch(param, branch);
        for (const param_ptr_t& nested : sub->getBranch(branch)) {
            if (nested == from)
                started = true;
            walk(visitor, nested, from, started);
        }
        if (started)
            visitor.endBranch(param, branch);
    }
    if (started)
        visitor.endSubParams(param);
}

void ParamManager::loadFromOptions() {
    ParamLoader loader(&Options::instance());
    accept(loader, nullptr, false);
    const std::string errors = loader.getErrors();
    if (errors.empty())
        return;

    // One line per rejected value, printed in walk order; the error prints its last line first.
    std::vector<std::string> lines;
    std::istringstream in(errors);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    error failure(error::user, 1, 1, 1);
    failure << lines.back();
    for (auto line = lines.rbegin() + 1; line != lines.rend(); ++line)
        failure.addLine(error::user, 1, 1, 1) << *line;
    throw failure;
}

params_t ParamManager::editableParams() {
    params_t editable;
    for (const param_ptr_t& param : topLevelParams)
        if (!param->is_readonly() && !param->hasUnselectedComponent())
            editable.push_back(param);
    return editable;
}

int ParamManager::countComponentsWithParams() {
    std::set<const AiComponent*> components;
    for (const param_ptr_t& param : editableParams())
        for (const std::shared_ptr<AiComponent>& component : param->ownerComponents)
            components.insert(component.get());
    return static_cast<int>(components.size());
}

int ParamManager::countComponentsWithValidParams() {
    std::map<const AiComponent*, int> scores;
    for (const param_ptr_t& param : editableParams()) {
        const bool valid = param->isValid();
        for (const std::shared_ptr<AiComponent>& component : param->ownerComponents)
            scores[component.get()] += valid ? 1 : -100;
    }
    return static_cast<int>(
        std::count_if(scores.begin(), scores.end(), [](const auto& score) { return score.second > 0; }));
}

void ParamManager::exportToFiles() {
    ParamFileExport exporter;
    accept(exporter, nullptr, true);
    for (const std::shared_ptr<ParamFileExport::file_t>& file : exporter.files) {
        if (file->discarded)
            continue;
        file->write();
        // Every file written holds secrets: it is removed at the end, with those of earlier exports,
        // also when a later one fails.
        if (std::find(exportedFiles.begin(), exportedFiles.end(), file->path) == exportedFiles.end())
            exportedFiles.push_back(file->path);
    }
}

void ParamManager::saveOptionsFile() {
    try {
        const std::string home = fileops::get_home_dir();
        UmaskGuard mask(077);
        const std::string path = home + "/" + ".dizadizezeroz/options.ini";
        const std::string dir = fileops::dirname(path);

        // Values of components that this run did not select are kept for a later run.
        std::string content;
        {
            ParamFileSaver saver(content, savedValues());
            accept(saver, nullptr, true);
            if (!saver.metAny()) {
                Log::stream(3, true) << "ParamManager: no setting of this run to save; " << path
                                     << " stays as it was";
                return;
            }
        }

        if (fileops::exists(dir) && !fileops::is_directory(dir)) {
            Log::stream(0, true) << "ERROR: path " << dir << " exists, but it is not directory";
            return;
        }
        if (!fileops::exists(dir)) {
            try {
                fileops::create_directory(dir);
            } catch (const error& e) {
                Log::stream(0, true) << "ERROR: " << withoutTrailingNewline(e.getText());
                return;
            }
        }
        try {
            fileops::write_file(path, content, 0600);
        } catch (const error& e) {
            Log::stream(0, true) << "ERROR: " << Messages().format("err_file_create", path);
            Log::stream(1, true) << withoutTrailingNewline(e.getText());
        }
    } catch (const error& e) {
        Log::stream(0, true) << withoutTrailingNewline(e.getText());
    } catch (const std::exception& e) {
        Log::stream(0, true) << e.what();
    }
}

void ParamManager::expandDefault(std::string& text) {
    expandMacros(text);
    replaceReferences(text, [this](const std::string& id, std::string& value) {
        for (const param_ptr_t& param : topLevelParams) {
            if (param->id == id) {
                value = param->getValue();
                return true;
            }
        }
        return false;
    });
}
