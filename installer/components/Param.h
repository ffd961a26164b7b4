#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class AiComponent;

// One typed component setting. The installer collects values from the user, the command line and
// options.ini, and hands them to the product's scripts through the parameters file.
class Param {
public:
    enum behaviour_t { regular = 0, secure = 1, detectable = 2 };

    Param(const std::shared_ptr<AiComponent>& component, const std::string& id);
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;
    virtual ~Param();

    virtual const char* getType() const = 0;
    virtual bool isValid() const;
    // Whether the text is acceptable; never changes the value.
    virtual bool validate(const std::string& text) = 0;
    virtual void assign(const std::string& text);

    void setTexts(const std::string& name, const std::string& description, const std::string& error);
    void setDefault(const std::string& text);
    // The default with its macros and references to other settings expanded. Raises when the setting
    // has no default, or when its default refers back to itself.
    std::string getDefault() const;
    // The accepted value while valid, else the default, else "".
    std::string getValue() const;
    // False when the text is rejected; the previous value then stays. Raises for a read-only setting.
    bool setValue(const std::string& text);
    bool hasValue() const { return !valueNotSet; }
    // A component of the setting is installed already; needs the installed state of the components.
    bool is_readonly() const;
    // Some component of the setting is not going to be installed or upgraded in this run.
    bool hasUnselectedComponent() const;
    std::string getErrorMessage() const;
    const std::vector<std::shared_ptr<AiComponent>>& getComponents() const;

    std::string acceptedValue;
    // The text last given to setValue, accepted or not.
    std::string enteredText;
    // Why the last text was rejected, for the validators that can tell.
    std::string validationDetail;
    std::string id;
    // As written in the build description; expanded when read.
    std::string defaultValue;
    bool hasDefault = false;
    bool lastValueAccepted = true;
    std::vector<std::shared_ptr<AiComponent>> ownerComponents;
    std::string displayName;
    std::string displayDescription;
    std::string errorMessage;
    bool valueNotSet = true;
    int behaviourMode = regular;
};

using param_ptr_t = std::shared_ptr<Param>;
using params_t = std::vector<param_ptr_t>;

// A setting that carries nested settings, in branches named after its values.
class SubParams : public Param {
public:
    using Param::Param;

    // Valid once a value is set and every nested setting of the chosen branch is valid.
    bool isValid() const override;

    std::vector<std::string> getBranchNames() const;
    void addToBranch(const std::string& branch, const param_ptr_t& param);
    // A copy; a name without a branch is an internal error.
    params_t getBranch(const std::string& branch) const;

    std::map<std::string, params_t> branchMap;
};
