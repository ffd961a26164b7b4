#include "common/runtime/Messages.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <boost/regex.hpp>

#include <atomic>
#include <cstdlib>
#include <locale>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

const char* const supported_locales_text =
    "Supported locales are: ar_*.UTF-8 ca_ES.UTF-8 cs_CZ.UTF-8 da_DK.UTF-8 de_DE.UTF-8 el_GR.UTF-8 "
    "en_US.UTF-8 es_ES.UTF-8 fi_FI.UTF-8 fr_FR.UTF-8 he_IL.UTF-8 hu_HU.UTF-8 id_ID.UTF-8 it_IT.UTF-8 "
    "ja_JP.UTF-8 ko_KR.UTF-8 ms_MY.UTF-8 nb_NO.UTF-8 nl_NL.UTF-8 pl_PL.UTF-8 pt_BR.UTF-8 pt_PT.UTF-8 "
    "ro_RO.UTF-8 ru_RU.UTF-8 sv_SE.UTF-8 th_TH.UTF-8 tl_PH.UTF-8 tr_TR.UTF-8 uk_UA.UTF-8 vi_VN.UTF-8 "
    "zh_CN.UTF-8 zh_TW.UTF-8 ";

// Tables are never freed: a reference handed out by an earlier table stays valid.
struct TableRegistry {
    std::mutex lock;
    std::vector<std::unique_ptr<Messages::messages_rep>> tables;
    std::atomic<Messages::messages_rep*> current{nullptr};

    Messages::messages_rep* publish(std::unique_ptr<Messages::messages_rep> table) {
        std::lock_guard<std::mutex> guard(lock);
        tables.push_back(std::move(table));
        current.store(tables.back().get(), std::memory_order_release);
        return tables.back().get();
    }

    Messages::messages_rep* publishFirst(std::unique_ptr<Messages::messages_rep> table) {
        std::lock_guard<std::mutex> guard(lock);
        tables.push_back(std::move(table));
        Messages::messages_rep* expected = nullptr;
        current.compare_exchange_strong(expected, tables.back().get(), std::memory_order_acq_rel);
        return current.load(std::memory_order_acquire);
    }
};

TableRegistry& registry() {
    static TableRegistry* instance = new TableRegistry;
    return *instance;
}

void setLocaleEnvironment(const std::string& name) {
    setenv("LC_ALL", name.c_str(), 1);
    setenv("LANG", name.c_str(), 1);
}

// The name the system gives the locale, or false when the system lacks it.
bool systemLocaleName(const std::string& name, std::string& system_name) {
    try {
        system_name = std::locale(name.c_str()).name();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Builds the first table from the environment. Nothing is locked while it logs: a racing thread
// may build a second table, and the first one published wins.
Messages::messages_rep* createRep() {
    std::string name;
    if (systemLocaleName("", name)) {
        Log::stream(2, true) << "Environment locale name is '" << name << "'";
    } else {
        Log::stream(1, true) << "Can't create locale object, check your locale settings.\n"
                                "Dizadizezeroz will use en_US locale.";
        setLocaleEnvironment("C");
        name.clear();
    }
    return registry().publishFirst(std::make_unique<Messages::messages_rep>(name));
}

Messages::messages_rep& currentRep() {
    Messages::messages_rep* table = registry().current.load(std::memory_order_acquire);
    return table ? *table : *createRep();
}

} // namespace

Messages::messages_rep::messages_rep(const std::string& name) : locale(name) {
    loadLocale("en_US");
    if (name == "C" || name == "POSIX" || name == "en_US" || name == "en_US.UTF-8")
        return;

    const std::string suffix = ".UTF-8";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        std::string code = name.substr(0, name.size() - suffix.size());
        if (code != "en_US" && loadLocale(code))
            return;
    }
    static const boost::regex arabic("ar_..\\.UTF-8");
    if (boost::regex_match(name, arabic)) {
        loadLocale("ar");
        locale = "ar";
        return;
    }
    Log::stream(1, true) << "Warning: Locale " << name << " is not supported, used en_US.";
    Log::stream(1, true) << supported_locales_text;
    locale = "en_US";
}

bool Messages::messages_rep::loadLocale(const std::string& code) {
#define MOXEL_LOAD_LOCALE(loc)                                                                              \
    if (code == #loc) {                                                                                     \
        loadConsoleTexts_##loc();                                                                           \
        loadWebTexts_##loc();                                                                               \
        loadErrorTexts_##loc();                                                                             \
        return true;                                                                                        \
    }
    MOXEL_MESSAGE_LOCALES(MOXEL_LOAD_LOCALE)
#undef MOXEL_LOAD_LOCALE
    return false;
}

const std::string& Messages::messages_rep::getMessage(const char* key) {
    if (!key)
        throw internal_error("common/runtime/Messages", __LINE__);
    {
        std::shared_lock<std::shared_mutex> reading(texts_lock);
        auto found = texts.find(key);
        if (found != texts.end())
            return found->second;
    }
    std::pair<std::map<std::string, std::string>::iterator, bool> inserted;
    {
        std::unique_lock<std::shared_mutex> writing(texts_lock);
        inserted = texts.emplace(key, std::string(key) + "_(non_localized)");
    }
    // Logged outside the table lock: a thread holding the log lock may be waiting for this table.
    if (inserted.second)
        Log::stream(1, true) << "Warning: unlocalized key " << key;
    return inserted.first->second;
}

size_t Messages::messages_rep::size() const {
    std::shared_lock<std::shared_mutex> reading(texts_lock);
    return texts.size();
}

const std::string& Messages::getMessage(const char* key) { return currentRep().getMessage(key); }

const std::string& Messages::getLocale() { return currentRep().getLocale(); }

void Messages::reset() {
    registry().current.store(nullptr, std::memory_order_release);
}

void Messages::setLocale(const std::string& name) {
    std::string copy = name;
    if (!copy.empty() && copy.find('.') == std::string::npos)
        copy += ".UTF-8";
    Log::stream(2, true) << "Messages::setLocale: try to create object for locale: " << copy;
    if (copy.size() > 3 && copy[2] == '-')
        copy[2] = '_';
    registry().publish(std::make_unique<messages_rep>(copy));

    std::string system_name;
    if (systemLocaleName(copy, system_name)) {
        Log::stream(3, true) << "DEBUG: Messages::setLocale: check locale " << system_name;
    } else {
        Log::stream(2, true) << "Warning: locale name " << copy << " is not valid, use 'C' instead";
        copy = "C";
    }
    setLocaleEnvironment(copy);
    Log::stream(3, true) << "DEBUG: Messages::setLocale: updated locale in environment to: " << getenv("LC_ALL");
}

std::vector<std::pair<std::string, std::string>> Messages::getLanguages() {
    return {{"en_US", "English"},
            {"ar", "Arabic"},
            {"ca_ES", "Catalan"},
            {"cs_CZ", "Czech"},
            {"da_DK", "Danish"},
            {"de_DE", "German"},
            {"el_GR", "Greek"},
            {"es_ES", "Spanish"},
            {"fi_FI", "Finnish"},
            {"fr_FR", "French"},
            {"he_IL", "Hebrew"},
            {"hu_HU", "Hungarian"},
            {"id_ID", "Indonesian"},
            {"it_IT", "Italian"},
            {"ja_JP", "Japanese"},
            {"ko_KR", "Korean"},
            {"ms_MY", "Malay"},
            {"nb_NO", "Norweigian"},
            {"nl_NL", "Dutch"},
            {"pl_PL", "Polish"},
            {"pt_BR", "Brazilian Portuguese"},
            {"pt_PT", "Portuguese"},
            {"ro_RO", "Romanian"},
            {"ru_RU", "Russian"},
            {"sv_SE", "Swedish"},
            {"th_TH", "Thai"},
            {"tl_PH", "Filipino"},
            {"tr_TR", "Turkish"},
            {"uk_UA", "Ukrainian"},
            {"vi_VN", "Vietnamese"},
            {"zh_CN", "Chinese (Simplified)"},
            {"zh_TW", "Chinese (Traditional)"}};
}

std::string Messages::formatFallback(const char* key, const std::string& text, const std::string& reason,
                                     const std::vector<std::string>& args) {
    Log::stream(1, true) << "Warning: cannot format the text of " << key << " with " << args.size()
                         << " arguments: " << reason;
    std::string result = text;
    for (const std::string& arg : args)
        result += " " + arg;
    return result;
}

bool isConsoleLocale(const std::string& name) {
    static const char* const codes[] = {"C",     "POSIX", "en_US", "ar",    "ca_ES", "cs_CZ", "da_DK", "de_DE",
                                        "el_GR", "es_ES", "fi_FI", "fr_FR", "he_IL", "hu_HU", "id_ID", "it_IT",
                                        "ms_MY", "nb_NO", "nl_NL", "pl_PL", "pt_BR", "pt_PT", "ro_RO", "ru_RU",
                                        "sv_SE", "tl_PH", "tr_TR", "uk_UA", "vi_VN"};
    const std::string code = name.substr(0, name.find('.'));
    for (const char* candidate : codes)
        if (code == candidate)
            return true;
    return false;
}
