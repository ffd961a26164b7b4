#pragma once

// Records built from a command line without the rc file and the other layers of a real start.

#include "installer/driver/Options.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <algorithm>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace optionstest {

// The program name followed by the arguments, as main receives them.
class Argv {
public:
    explicit Argv(std::vector<std::string> arguments) : arguments(std::move(arguments)) {
        this->arguments.insert(this->arguments.begin(), "installer");
        for (std::string& argument : this->arguments)
            pointers.push_back(&argument[0]);
        pointers.push_back(nullptr);
    }
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;

    int argc() const { return static_cast<int>(arguments.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> arguments;
    std::vector<char*> pointers;
};

// A test name made of the arguments: letters and digits, "_" for anything else.
inline std::string testName(const std::vector<std::string>& arguments) {
    std::string name;
    for (const std::string& argument : arguments)
        for (char c : (name.empty() ? "" : " ") + argument)
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// A default record with the arguments parsed in the command style.
inline std::unique_ptr<Options> commandStyle(const std::vector<std::string>& arguments) {
    auto options = std::make_unique<Options>();
    options->terminalWidth = 80;
    Argv argv(arguments);
    options->parseCommand(argv.argc(), argv.argv());
    return options;
}

// The catalogue of the test source: moxel (moxel-18.0.1, version 18.0.1) and pagewright
// (pagewright-2.5.0, version 2.5.0), both "stable".
class SourceCatalogueTest : public cataloguetest::CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        unsetenv("WEB_SECRET");
        FileFetcher fetcher(std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/", target.path());
        catalogue = std::make_unique<BuildManager>(fetcher, "");
    }

    // Marks the releases of these products as installed, the others as not installed.
    void installed(const std::vector<std::string>& products) {
        for (const auto& release : catalogue->_releases) {
            release->_state = 2;
            const bool is_installed =
                std::find(products.begin(), products.end(), release->_product->_id) != products.end();
            release->_installed_version = is_installed ? release->_version.toString() : "";
        }
    }

    // A command-style record after the second stage.
    std::unique_ptr<Options> interpreted(const std::vector<std::string>& arguments) {
        auto options = commandStyle(arguments);
        options->interpretSelectors(*catalogue);
        return options;
    }

    std::unique_ptr<BuildManager> catalogue;
};

} // namespace optionstest
