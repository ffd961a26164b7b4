#pragma once

#include <ctime>
#include <string>
#include <vector>

// Small helpers shared by every part of the installer. The MD5 functions are in md5rep.h.
namespace util {

// Conversions.
// True for exactly "true", "1", "yes", "on"; any other text is false (unknown words are logged).
bool to_bool(const std::string& value);
bool to_bool(const char* value);
// Only digits, '+' and '-' are accepted, else raises err_non_digit with an unset classification
// for the caller's error::addLine; the value then goes through atol(3).
long to_long(const std::string& value);
// The text before the first '.'.
std::string major_version(const std::string& version);

// Trimming and case. The string forms trim blank, \f, \n, \r, \t and \v; the char* forms use isspace.
std::string trim(const std::string& text);
std::string rtrim(const std::string& text);
void trim(char* text);
// Removes one trailing newline.
void chomp(char* text);
void to_lower(std::string& text);
bool ends_with(const std::string& text, const std::string& suffix);

// Splitting.
// Words separated by white space; a word may be single-quoted (no escapes) or double-quoted (a
// backslash takes the next character literally). A closing quote must be followed by white space or
// the end, else raises err_spsepval (0, 1, 1, 2).
std::vector<std::string> split_quoted(const std::string& text);
// Comma-separated items with the escapes \n \" \, \\ and "quoted stretches", each item trimmed; empty
// items at both ends are dropped, those between others kept. A bad escape raises
// boost::escaped_list_error.
std::vector<std::string> split_escaped_list(const std::string& text);

// Escaping.
// C-style literal for logs and display: "..." with \\, \" and \xhh for unprintable bytes.
// Never use it to build a shell command: that is shell_quote's job.
std::string escape_c_string(const std::string& text);
std::string printable(const std::string& text);
// A JavaScript string literal to be placed inside an HTML page.
std::string js_string(const std::string& text);
// Newlines become "<br />\n"; carriage returns are dropped.
std::string nl2br(const std::string& text);
// A backslash before each of . ^ $ | ( ) [ ] { } * + ? and backslash.
std::string regex_escape(const std::string& text);
// One /bin/sh word whatever the text holds: POSIX single quotes, each ' written as '\''.
std::string shell_quote(const std::string& text);

// Environment.
std::string get_env(const std::string& name);
void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);

// Sleeping; both are interruption points of boost::thread.
void sleep_ms(int milliseconds);
void sleep_seconds(int seconds);

// The terminal on descriptor 1; 0 when it is not a terminal.
int terminal_width();
int terminal_height();
// Writes one character to standard output and flushes it.
void put_char(int c);

// Whether the text file has a line equal to `line`, both trimmed. Opening errors raise as
// fileops::File does.
bool file_has_line(const std::string& path, const std::string& line);

// Mails `body` with the system's mail command. Failures are logged, never raised.
void send_mail(const std::string& to, const std::string& subject, const std::string& body);

} // namespace util

// Stopwatch of whole seconds.
class Timer {
public:
    void start();
    // Seconds since start(); -1 when the clock could not be read.
    double elapsed();

private:
    std::time_t started = -1;
    std::time_t last = -1;
};
