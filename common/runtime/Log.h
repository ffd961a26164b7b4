#pragma once

#include <cstdint>
#include <ios>
#include <mutex>
#include <sstream>
#include <string>

// The program's single logging facility. Every statement is one Log::stream: it holds the
// process-wide recursive log lock for its whole life and sends each piece to four sinks by level:
// the report stream (levels <= 1), the log file (<= 2, or 3 with debug; held until the file is
// opened, then flushed per line), the console on standard error (<= 0) and the web back end's capture (<= 0).
// Levels: 0 user-visible, 1 errors and warnings for the log, 2 information, 3 debug.
class Log {
public:
    enum line_mode {
        no_newline = 0,
        newline = 1,
        progress_line = 2,        // console only, rewritten in place
        progress_line_logged = 3, // console progress line that is also logged as a line
    };

    class stream {
    public:
        stream(int level, bool newline);
        stream(int level, int mode);
        stream(const stream&) = delete;
        stream& operator=(const stream&) = delete;
        ~stream();

        stream& operator<<(const std::string& text);
        stream& operator<<(const char* text) { return *this << std::string(text ? text : ""); }
        stream& operator<<(char c) { return *this << std::string(1, c); }
        stream& operator<<(bool value) { return *this << std::string(value ? "true" : "false"); }
        stream& operator<<(std::ostream& (*manipulator)(std::ostream&));
        template <typename T> stream& operator<<(const T& value) {
            std::ostringstream text;
            text << value;
            return *this << text.str();
        }

        // Raw command output: unchanged to the console, only printable ASCII and "\n" to the sinks.
        void write(const char* buffer, int length);

    private:
        void writeLinePrefix();
        void toConsole(const std::string& text) const;
        void toSinks(const std::string& text) const;
        void endProgressLine();

        int level;
        int mode;
        int64_t chars = 0;
        std::unique_lock<std::recursive_mutex> hold;
    };

    // Captures console-level output for the web back end; the log file must be open.
    class ConsoleMessages {
    public:
        ConsoleMessages();
        ConsoleMessages(const ConsoleMessages&) = delete;
        ConsoleMessages& operator=(const ConsoleMessages&) = delete;
        ~ConsoleMessages();

        std::string get_messages();
        std::string get_new_lines();
        std::string get_log(size_t max_bytes);

    private:
        size_t read_position = 0;
        std::streamoff log_start = 0;
    };

    static void open_file(const std::string& path, bool truncate);
    static std::string get_file_name();
    // Writes out buffered file text; done at each line end, after errors, at exit and before commands.
    static void flush();
    static bool consoleLocaleOk();

    static void setFileThreshold(int threshold);
    static void setStderrThreshold(int threshold);
    static void setConsoleMode(bool on);
    static void setResolverDepth(int depth);
    static int getResolverDepth();

    // Levels 0 and 1 of the whole run, for the notification mail.
    static std::string getReport();
    // Back to the state of a new process: no file, nothing buffered or reported, default thresholds.
    // For tests, which run many cases in one process.
    static void reset();

    // "[%Y-%m-%d %H:%M:%S.ffffff] " in local time.
    static std::string timestamp();
};
