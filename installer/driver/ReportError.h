#pragma once

#include <ostream>
#include <sstream>
#include <string>

// The free text of the error report, written by the installation code during the run.
class ReportError {
public:
    // Formats values as an output stream does; each text goes to the log at the stream's level, as
    // part of the current line (level -1: not logged), and is appended to the report text.
    class Stream {
    public:
        explicit Stream(int level) : level(level) {}

        template <typename T> Stream& operator<<(const T& value) {
            std::ostringstream text;
            text << value;
            return write(text.str());
        }
        Stream& operator<<(std::ostream& (*manipulator)(std::ostream&));

    private:
        Stream& write(const std::string& text);

        int level;
    };

    // Everything written so far.
    static std::string text();
};
