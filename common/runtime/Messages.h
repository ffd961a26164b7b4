#pragma once

#include "common/runtime/MessageLocales.h"

#include <boost/format.hpp>

#include <map>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

// Localised texts by key. A stateless handle over one process-wide text table; a locale switch
// publishes a new table and keeps the earlier ones alive, so texts handed out stay valid.
class Messages {
public:
    class messages_rep {
    public:
        explicit messages_rep(const std::string& name);
        messages_rep(const messages_rep&) = delete;
        messages_rep& operator=(const messages_rep&) = delete;

        const std::string& getMessage(const char* key);
        const std::string& getLocale() const { return locale; }
        size_t size() const;

#define MOXEL_DECLARE_LOADERS(locale)                                                                       \
    void loadConsoleTexts_##locale();                                                                       \
    void loadWebTexts_##locale();                                                                           \
    void loadErrorTexts_##locale();
        MOXEL_MESSAGE_LOCALES(MOXEL_DECLARE_LOADERS)
#undef MOXEL_DECLARE_LOADERS

    private:
        struct entry {
            const char* key;
            const char* text;
        };
        // Used by the generated loaders.
        template <size_t N> void assign(const entry (&entries)[N]) {
            for (const entry& e : entries)
                texts[e.key] = e.text;
        }
        bool loadLocale(const std::string& code);

        std::map<std::string, std::string> texts;
        std::string locale;
        mutable std::shared_mutex texts_lock;
    };

    const std::string& getMessage(const char* key);
    const std::string& getMessage(const std::string& key) { return getMessage(key.c_str()); }

    // The text of key with its placeholders filled. A text that does not take these arguments
    // is logged and shown followed by the arguments, so reporting an error never fails on it.
    template <typename... Args> std::string format(const char* key, const Args&... args);

    static const std::string& getLocale();
    static void setLocale(const std::string& name);
    // The next lookup chooses the locale from the environment again; earlier tables stay alive.
    // For tests, which run many cases in one process.
    static void reset();
    static std::vector<std::pair<std::string, std::string>> getLanguages();

private:
    static std::string formatFallback(const char* key, const std::string& text, const std::string& reason,
                                      const std::vector<std::string>& args);
};

// True when the console can draw the texts of this locale.
bool isConsoleLocale(const std::string& name);

template <typename... Args> std::string Messages::format(const char* key, const Args&... args) {
    const std::string& text = getMessage(key);
    try {
        boost::format formatter(text);
        ((formatter % args), ...);
        return formatter.str();
    } catch (const boost::io::format_error& e) {
        std::vector<std::string> texts;
        (texts.push_back((boost::format("%1%") % args).str()), ...);
        return formatFallback(key, text, e.what(), texts);
    }
}
