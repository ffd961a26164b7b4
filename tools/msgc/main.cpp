// msgc: checks the text catalogues of one group and generates its 32 loaders.
//   msgc GROUP DATA_DIR OUT_DIR
// GROUP is Console, Web or Error; DATA_DIR holds <locale>.msg files, en_US.msg among them.

#include "common/runtime/MessageLocales.h"
#include "tools/msgc/CatalogueCheck.h"
#include "tools/msgc/CatalogueFile.h"
#include "tools/msgc/GroupRules.h"
#include "tools/msgc/LoaderWriter.h"

#include <dirent.h>
#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <set>

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A data file whose name is no locale would never be compiled; a misnamed translation must not
// vanish without a word.
void checkFileNames(const std::string& data_dir, const std::set<std::string>& locales) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(data_dir.c_str()), closedir);
    if (!dir)
        throw msgc::CatalogueError(data_dir, 0, "", "cannot be read");
    const std::string suffix = ".msg";
    while (const dirent* item = readdir(dir.get())) {
        const std::string name = item->d_name;
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            !locales.count(name.substr(0, name.size() - suffix.size())))
            throw msgc::CatalogueError(data_dir + "/" + name, 0, "", "no locale of this name");
    }
}

void generate(const std::string& group, const std::string& data_dir, const std::string& out_dir) {
    using namespace msgc;
    const GroupRules rules = GroupRules::forGroup(group);
    const CatalogueFile english = CatalogueFile::parse(data_dir + "/en_US.msg");
    CatalogueCheck::checkTexts(english, rules);
    const std::set<std::string> locales = {
#define MOXEL_LOCALE_NAME(locale) #locale,
        MOXEL_MESSAGE_LOCALES(MOXEL_LOCALE_NAME)
#undef MOXEL_LOCALE_NAME
    };
    checkFileNames(data_dir, locales);
    for (const std::string& locale : locales) {
        const std::string data_path = data_dir + "/" + locale + ".msg";
        std::unique_ptr<CatalogueFile> translation;
        if (locale != "en_US" && exists(data_path)) {
            translation = std::make_unique<CatalogueFile>(CatalogueFile::parse(data_path));
            CatalogueCheck::checkTexts(*translation, rules);
            CatalogueCheck::checkAgainstEnglish(*translation, english, rules);
        }
        const CatalogueFile* file = locale == "en_US" ? &english : translation.get();
        LoaderWriter::writeIfChanged(out_dir + "/load" + group + "Texts_" + locale + ".cpp",
                                     LoaderWriter::loaderSource(group, locale, file));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: msgc GROUP DATA_DIR OUT_DIR\n";
        return 2;
    }
    try {
        generate(argv[1], argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::cerr << "msgc: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
