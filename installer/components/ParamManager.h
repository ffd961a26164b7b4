#pragma once

#include "installer/components/Param.h"

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

class AiComponent;
class ComponentManager;
class Options;
namespace tinybind {
class Element;
}

// Owner of every component setting of the run, and the one way to go over them. The last manager
// created is the process's; its destruction saves options.ini and removes the parameters files.
class ParamManager {
public:
    // Product id to (setting id to value text).
    using values_t = std::map<std::string, std::map<std::string, std::string>>;

    class Visitor {
    public:
        virtual void begin();
        virtual void visit(const param_ptr_t& param);
        // The setting's branches follow.
        virtual void beginSubParams(const param_ptr_t& param);
        virtual void beginBranch(const param_ptr_t& param, const std::string& branch);
        virtual void endBranch(const param_ptr_t& param, const std::string& branch);
        virtual void endSubParams(const param_ptr_t& param);
        virtual void end();
        virtual ~Visitor();
    };

    // Gives every setting it visits the value stored for it, and collects a line per rejected value.
    class ParamLoader : public Visitor {
    public:
        // The component settings of the options.
        explicit ParamLoader(Options* options);
        // Values from elsewhere, such as the web wizard's form; the map must outlive the loader.
        explicit ParamLoader(const values_t* values);

        void visit(const param_ptr_t& param) override;
        std::string getErrors() const { return errors.str(); }

    private:
        const values_t* values;
        std::ostringstream errors;
    };

    // Collects the values options.ini keeps and writes the file when destroyed.
    class ParamFileSaver : public Visitor {
    public:
        // `out` receives the content; the caller writes it to the file. `earlier` holds the values
        // saved before: those of settings the walk does not meet are written again after the others.
        ParamFileSaver(std::string& out, const values_t& earlier);
        ~ParamFileSaver() override;

        void visit(const param_ptr_t& param) override;
        // Whether the walk met any setting of this run.
        bool metAny() const { return !met.empty(); }

    private:
        std::map<std::string, params_t> products;
        values_t earlier;
        std::set<std::pair<std::string, std::string>> met;
        std::string& out;
    };

    // Writes each product's settings to the parameters file its build names.
    class ParamFileExport : public Visitor {
    public:
        // The lines of one parameters file, written as a whole once the walk is over.
        class file_t {
        public:
            // `named` is the build's parameters-file name; one that leads outside the panel's
            // directory raises.
            file_t(const std::string& productId, const std::string& named);
            file_t(const file_t&) = delete;
            file_t& operator=(const file_t&) = delete;
            ~file_t();

            // Writes the collected lines, readable by the owner only, to the path or, when the build
            // names none, to a new private temporary file. Raises err_file_create.
            void write();

            std::string productId;
            std::string path;
            // Set when the path is not a regular file: what goes to the stream is thrown away.
            bool discarded = false;
            std::unique_ptr<std::ostringstream> o;
        };

        ~ParamFileExport() override;
        void visit(const param_ptr_t& param) override;

        std::vector<std::shared_ptr<file_t>> files;
    };

    ParamManager();
    ParamManager(const ParamManager&) = delete;
    ParamManager& operator=(const ParamManager&) = delete;
    ~ParamManager();

    // The manager of the process, or null.
    static ParamManager* instance();

    void prepare(ComponentManager& components);

    // Reads a component's settings element into top-level settings and their nested ones.
    void loadSettings(const std::shared_ptr<AiComponent>& component, const tinybind::Element& settings);
    // Forgets the settings of a component that another one replaced in the tree.
    void dropSettingsOf(const std::shared_ptr<AiComponent>& component);
    static void create(params_t& topLevel, const std::shared_ptr<AiComponent>& component,
                       const tinybind::Element& element, const std::shared_ptr<SubParams>& parent,
                       const std::string& branch);
    static param_ptr_t createSetting(params_t& topLevel, const std::shared_ptr<AiComponent>& component,
                                     const tinybind::Element& element);
    // The text of the subnode in the current locale's language, else of the first subnode.
    static std::string get_localized_text_from_subnode(const tinybind::Element& element,
                                                       const std::string& subnode);

    // With editableOnly, top-level settings of components that are installed already or are not
    // going to be installed are left out. Nothing before `from` is reported; a null `from` starts
    // at once.
    void accept(Visitor& visitor, const param_ptr_t& from, bool editableOnly);
    // Raises one user error holding a line per rejected value; accepted values stay set.
    void loadFromOptions();
    // Components with editable settings, and those of them whose settings are all valid.
    int countComponentsWithParams();
    int countComponentsWithValidParams();

    // Writes the parameters files; raises when one cannot be written.
    void exportToFiles();
    // Never raises: failures are logged. A run that met no setting leaves the file as it was.
    void saveOptionsFile();

    // Expands macros, then replaces each "[id]" of a top-level setting by that setting's value.
    void expandDefault(std::string& text);

    params_t topLevelParams;
    std::vector<std::string> exportedFiles;

private:
    void walk(Visitor& visitor, const param_ptr_t& param, const param_ptr_t& from, bool& started);
    // The top-level settings an editable-only walk visits.
    params_t editableParams();
};

// Replaces "[LOCALE]" by the language of the current locale, as in "en-US".
void expandMacros(std::string& text);
