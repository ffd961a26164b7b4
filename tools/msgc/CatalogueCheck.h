#pragma once

#include "tools/msgc/CatalogueFile.h"

namespace msgc {

// Checks a data file on its own (encoding, characters) and, for a translation, against the
// English file of its group. The first fault found is thrown as CatalogueError.
class CatalogueCheck {
public:
    static void checkTexts(const CatalogueFile& file);
    static void checkAgainstEnglish(const CatalogueFile& translation, const CatalogueFile& english);
};

} // namespace msgc
