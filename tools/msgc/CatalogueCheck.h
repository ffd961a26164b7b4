#pragma once

#include "tools/msgc/CatalogueFile.h"
#include "tools/msgc/GroupRules.h"

#include <string>

namespace msgc {

// Checks the data files of one text group. The first fault found is thrown as CatalogueError,
// naming the file, the line, the key and the reason.
class CatalogueCheck {
public:
    // A file on its own: texts are non-empty UTF-8 without control characters (a line break only
    // where the group allows it), placeholders are well formed, the group's per-key rules hold.
    static void checkTexts(const CatalogueFile& file, const GroupRules& rules);
    // A translation against English: the same key set (less what the rules exempt), the same
    // placeholders, and option names and kept tokens unchanged.
    static void checkAgainstEnglish(const CatalogueFile& translation, const CatalogueFile& english,
                                    const GroupRules& rules);

private:
    static void checkCharacters(const CatalogueFile& file, const Entry& entry, const GroupRules& rules);
    static void checkPlaceholderForm(const CatalogueFile& file, const Entry& entry);
    static void checkScriptText(const CatalogueFile& file, const Entry& entry, const GroupRules& rules);
    static void checkKeySet(const CatalogueFile& translation, const CatalogueFile& english,
                            const GroupRules& rules);
    static void checkPlaceholders(const CatalogueFile& file, const Entry& entry, const Entry& english);
    static void checkOptionNames(const CatalogueFile& file, const Entry& entry, const Entry& english);
    static void checkKeptTokens(const CatalogueFile& file, const Entry& entry, const Entry& english,
                                const GroupRules& rules);
};

} // namespace msgc
