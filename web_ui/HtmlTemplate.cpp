#include "web_ui/HtmlTemplate.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"

#include <cctype>
#include <utility>
#include <vector>

namespace {

const size_t max_name_length = 128;

bool isTrue(const std::string& value) {
    return !value.empty() && value != "0" && value != "false" && value != "no";
}

class Renderer {
public:
    Renderer(const char* text, size_t length, TemplateVariables& variables, char* out, size_t space)
        : text(text), length(length), variables(variables), out(out), space(space) {
        stack.emplace_back(std::string(), true);
    }

    size_t run() {
        while (pos < length) {
            if (text[pos] == '{' && readTag())
                continue;
            if (emit)
                write(text + pos, 1);
            ++pos;
        }
        if (stack.size() != 1)
            Log::stream(3, true)
                << "Warning: send_html_chunk() has conditions stack in invalid state upon completion";
        return written;
    }

private:
    // At a '{': acts on a tag and moves past it, or returns false to have the '{' written as text.
    bool readTag() {
        if (pos + 1 < length && text[pos + 1] == '!')
            return skipComment();
        size_t start = pos + 1;
        char kind = 0;
        if (start < length &&
            (text[start] == '@' || text[start] == '#' || text[start] == '^' || text[start] == '/'))
            kind = text[start++];
        size_t end = start;
        while (end < length && end - start < max_name_length && text[end] != '}' &&
               !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        const bool closed = end < length && text[end] == '}';
        if (!closed || end == start) {
            if (end > start)
                Log::stream(3, true)
                    << "Warning: send_html_chunk() skipped what looks like a tag, but does not "
                       "conform to constraints: '"
                    << std::string(text + start, end - start) << "'";
            return false;
        }
        act(kind, std::string(text + start, end - start));
        pos = end + 1;
        return true;
    }

    bool skipComment() {
        size_t close = pos + 2;
        while (close + 1 < length && !(text[close] == '!' && text[close + 1] == '}'))
            ++close;
        pos = close + 1 < length ? close + 2 : length;
        return true;
    }

    void act(char kind, const std::string& name) {
        if (kind == 0) {
            if (emit)
                writeText(Messages().getMessage(name));
            return;
        }
        const std::string& value = lookUp(kind, name);
        switch (kind) {
        case '@':
            if (emit)
                writeText(value);
            break;
        case '#':
            emit = emit && isTrue(value);
            stack.emplace_back(name, emit);
            break;
        case '^':
            emit = emit && !isTrue(value);
            stack.emplace_back(name, emit);
            break;
        case '/':
            close(name);
            break;
        }
    }

    const std::string& lookUp(char kind, const std::string& name) {
        auto found = variables.find(name);
        if (found != variables.end())
            return found->second;
        Log::stream(3, true) << "Notice: send_html_chunk() encountered unresolved tag reference: '" << kind
                             << name << "'";
        return variables[name];
    }

    void close(const std::string& name) {
        if (stack.size() > 1 && stack.back().first == name) {
            stack.pop_back();
            emit = stack.back().second;
            return;
        }
        Log::stream(3, true) << "Warning: send_html_chunk() encountered invalid bracket sequence: expecting '"
                             << stack.back().first << "', got '" << name << "'";
    }

    void writeText(const std::string& value) { write(value.data(), value.size()); }

    void write(const char* bytes, size_t count) {
        const size_t fits = std::min(count, space - written);
        std::copy(bytes, bytes + fits, out + written);
        written += fits;
    }

    const char* text;
    size_t length;
    TemplateVariables& variables;
    char* out;
    size_t space;
    size_t pos = 0;
    size_t written = 0;
    bool emit = true;
    std::vector<std::pair<std::string, bool>> stack;
};

} // namespace

size_t renderTemplate(const char* text, size_t length, TemplateVariables& variables, char* out,
                      size_t space) {
    return Renderer(text, length, variables, out, space).run();
}

int send_html_chunk(httpd_arg* arg, const char* text, size_t length, TemplateVariables& variables) {
    const size_t written = renderTemplate(text, length, variables, arg->output.data + arg->output.used,
                                          static_cast<size_t>(arg->output.size - arg->output.used));
    arg->output.used += static_cast<int>(written);
    return static_cast<int>(written);
}
