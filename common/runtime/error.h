#pragma once

#include <deque>
#include <set>
#include <sstream>
#include <string>

// The one exception type of the installer: message lines plus a classification that decides
// which advice the user is shown, and flags that tell the run driver how to treat it.
class error {
public:
    enum error_class { repository = 1, user = 2, internal = 3, system = 4, dependencies = 5, packages = 6 };

    // Flags in use.
    static constexpr int flag_report_logged = 0; // the resolver's problem report is already in the log
    static constexpr int flag_expected_stop = 1; // nothing went wrong; keep it out of the error report

    error();
    error(int e_class, int repeat, int system_state, int support);
    error(const error&) = default;
    error& operator=(const error&) = default;
    virtual ~error() = default;

    // Appends to the last line.
    error& operator<<(const std::string& text);
    error& operator<<(const char* text);
    error& operator<<(int value);
    error& operator<<(char value);

    // A new line after (addLine) or before (prependLine) the others; numbers still 0 take the arguments.
    error& addLine(int e_class, int repeat, int system_state, int support);
    error& prependLine(int e_class, int repeat, int system_state, int support);

    // Replaces the support advice whatever it was.
    error& setSupport(int support);
    error& setFlag(int flag);
    bool hasFlag(int flag) const;

    // Lines from the last to the first, each ended by "\n".
    std::string getText() const;
    // The text followed by the advice texts of the classification.
    std::string getReport() const;
    std::string getClassName() const;

    int getClass() const { return e_class; }
    int getRepeat() const { return repeat; }
    int getSystemState() const { return system_state; }
    int getSupport() const { return support; }
    const std::deque<std::string>& getLines() const { return lines; }

private:
    void classifyUnset(int e_class, int repeat, int system_state, int support);

    std::deque<std::string> lines;
    int e_class;
    int repeat;
    int system_state;
    int support;
    std::set<int> flags;
};

// "An internal error occured in Moxel Installer <version>, revision <rev>, <unit>, line <line>."
error internal_error(const std::string& unit, int line);
