#pragma once

#include "tools/msgc/CatalogueFile.h"

#include <string>

namespace msgc {

// Writes one generated loader, Messages::messages_rep::load<Group>Texts_<locale>.
class LoaderWriter {
public:
    static std::string loaderSource(const std::string& group, const std::string& locale,
                                    const CatalogueFile* file);
    // Writes only when the content differs, so unchanged loaders are not rebuilt.
    static void writeIfChanged(const std::string& path, const std::string& content);
};

} // namespace msgc
