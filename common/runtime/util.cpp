#include "common/runtime/util.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/thread/thread.hpp>
#include <boost/tokenizer.hpp>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

namespace util {

namespace {

const char* const white_space = " \f\n\r\t\v";

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void sleep_for_ms(long long milliseconds) {
    boost::this_thread::interruption_point();
    if (milliseconds <= 0)
        return;
    // One nanosleep: a signal ends it early, so a stop request is noticed at once.
    struct timespec delay;
    delay.tv_sec = time_t(milliseconds / 1000);
    delay.tv_nsec = long(milliseconds % 1000) * 1000000L;
    nanosleep(&delay, nullptr);
}

} // namespace

bool to_bool(const std::string& value) {
    if (value == "true" || value == "1" || value == "yes" || value == "on")
        return true;
    if (!value.empty() && value != "false" && value != "0" && value != "no" && value != "off")
        Log::stream(2, true) << "Converting to boolean: '" << value << "' has been converted to 'false'";
    return false;
}

bool to_bool(const char* value) {
    return value != nullptr && to_bool(std::string(value));
}

long to_long(const std::string& value) {
    for (char c : value) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-')
            throw error(0, 0, 0, 0) << Messages().getMessage("err_non_digit");
    }
    errno = 0;
    return atol(value.c_str());
}

std::string major_version(const std::string& version) {
    return version.substr(0, version.find('.'));
}

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(white_space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(white_space) - first + 1);
}

std::string rtrim(const std::string& text) {
    size_t last = text.find_last_not_of(white_space);
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

void trim(char* text) {
    if (!text)
        return;
    char* start = text;
    while (*start && is_space(*start))
        ++start;
    size_t length = strlen(start);
    memmove(text, start, length + 1);
    while (length > 0 && is_space(text[length - 1]))
        text[--length] = '\0';
}

void chomp(char* text) {
    size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\n')
        text[length - 1] = '\0';
}

void to_lower(std::string& text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> split_quoted(const std::string& text) {
    std::vector<std::string> words;
    const size_t n = text.size();
    size_t i = 0;
    for (;;) {
        while (i < n && is_space(text[i]))
            ++i;
        if (i == n)
            return words;

        std::string word;
        char quote = text[i];
        if (quote == '\'' || quote == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = text[i++];
                if (c == quote) {
                    closed = true;
                    break;
                }
                if (c == '\\' && quote == '"') {
                    if (i == n)
                        break;
                    c = text[i++];
                }
                word += c;
            }
            if (closed && i < n && !is_space(text[i]))
                throw error(0, 1, 1, 2) << Messages().format("err_spsepval", text);
        } else {
            while (i < n && !is_space(text[i]))
                word += text[i++];
        }
        words.push_back(word);
    }
}

std::vector<std::string> split_escaped_list(const std::string& text) {
    typedef boost::tokenizer<boost::escaped_list_separator<char>> tokenizer;
    tokenizer tokens(text, boost::escaped_list_separator<char>('\\', ',', '"'));
    std::vector<std::string> items;
    for (const std::string& token : tokens)
        items.push_back(boost::algorithm::trim_copy(token));
    while (!items.empty() && items.back().empty())
        items.pop_back();
    size_t leading = 0;
    while (leading < items.size() && items[leading].empty())
        ++leading;
    items.erase(items.begin(), items.begin() + long(leading));
    return items;
}

std::string escape_c_string(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (std::isprint(byte))
            out += c;
        else {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0x0f];
        }
    }
    return out + "\"";
}

std::string printable(const std::string& text) {
    return escape_c_string(text);
}

std::string js_string(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "<br>\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '/':
            out += "\\/";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20)
                out += c;
        }
    }
    return out + "\"";
}

std::string nl2br(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "<br />\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

std::string regex_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::strchr(".^$|()[]{}*+?\\", c) && c != '\0')
            out += '\\';
        out += c;
    }
    return out;
}

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string get_env(const std::string& name) {
    const char* value = getenv(name.c_str());
    return value ? value : "";
}

void set_env(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string& name) {
    unsetenv(name.c_str());
}

void sleep_ms(int milliseconds) {
    sleep_for_ms(milliseconds);
}

void sleep_seconds(int seconds) {
    sleep_for_ms(static_cast<long long>(seconds) * 1000);
}

int terminal_width() {
    struct winsize size;
    return ioctl(1, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

int terminal_height() {
    struct winsize size;
    return ioctl(1, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
}

void put_char(int c) {
    putchar(c);
    fflush(stdout);
}

bool file_has_line(const std::string& path, const std::string& line) {
    struct LineBuffer {
        char* data = nullptr;
        size_t capacity = 0;
        ~LineBuffer() { free(data); }
    };
    const std::string wanted = trim(line);
    fileops::File file(path, "r");
    LineBuffer buffer;
    ssize_t length;
    while ((length = getline(&buffer.data, &buffer.capacity, file.file)) != -1) {
        if (trim(std::string(buffer.data, size_t(length))) == wanted)
            return true;
    }
    return false;
}

void send_mail(const std::string& to, const std::string& subject, const std::string& body) {
    const std::string command = "mail -s " + shell_quote(subject) + " " + shell_quote(to);
    FILE* pipe = popen(command.c_str(), "we");
    if (!pipe) {
        std::cerr << "Can't run mail command, mail not sent.\n"
                  << "Mail cmd failed: " << command << "\n"
                  << "The body of mail:\n"
                  << body << std::endl;
        return;
    }
    fwrite(body.data(), 1, body.size(), pipe);
    if (pclose(pipe) != 0)
        Log::stream(1, true) << Messages().getMessage("err_send_mail");
}

} // namespace util

void Timer::start() {
    started = last = time(nullptr);
}

double Timer::elapsed() {
    last = time(nullptr);
    if (started == -1 || last == -1)
        return -1;
    return double(last - started);
}
