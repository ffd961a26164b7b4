#include "installer/driver/OptionsHelpPrinter.h"

#include "common/runtime/utf8.h"

#include <boost/algorithm/string/split.hpp>

#include <algorithm>

namespace {

// Name and value placeholder, the left column of an entry.
std::string optionHead(const boost::program_options::option_description& option) {
    return "  " + option.format_name() + ' ' + option.format_parameter();
}

// Byte length of the longest stretch from `begin` that fits into `available` columns; at least one
// character, so that a character wider than the space still moves on.
size_t fittingBytes(const std::string& text, size_t begin, unsigned available) {
    size_t end = begin;
    unsigned used = 0;
    while (end < text.size()) {
        unsigned width = 0;
        const size_t length = utf8::characterAt(text, end, width);
        if (end > begin && used + width > available)
            break;
        used += width;
        end += length;
    }
    return end - begin;
}

} // namespace

OptionsHelpPrinter::OptionsHelpPrinter(unsigned lineLength, unsigned minDescriptionLength)
    : lineLength(std::max(lineLength, minDescriptionLength + 2)), minDescriptionLength(minDescriptionLength) {
}

void OptionsHelpPrinter::print(std::ostream& out, const std::vector<OptionGroup>& groups) const {
    const unsigned column = descriptionColumn(groups);
    for (const OptionGroup& group : groups) {
        out << "\n";
        if (!group.caption.empty())
            out << group.caption << ":\n";
        for (const auto& option : group.options) {
            printOption(out, *option, column);
            out << "\n";
        }
    }
}

unsigned OptionsHelpPrinter::descriptionColumn(const std::vector<OptionGroup>& groups) const {
    // A longer head puts its description on the next line.
    const unsigned last_head_column = lineLength - minDescriptionLength - 1;
    // Groups nest in the whole description, and each level adds one blank after its widest head.
    unsigned widest = 23;
    for (const OptionGroup& group : groups) {
        unsigned widest_in_group = 23;
        for (const auto& option : group.options)
            widest_in_group = std::max(widest_in_group, utf8::width(optionHead(*option)));
        widest = std::max(widest, std::min(widest_in_group, last_head_column) + 1);
    }
    return std::min(widest, last_head_column) + 1;
}

void OptionsHelpPrinter::printOption(std::ostream& out,
                                     const boost::program_options::option_description& option,
                                     unsigned column) const {
    const std::string head = optionHead(option);
    out << head;
    if (option.description().empty())
        return;
    const unsigned head_width = utf8::width(head);
    if (head_width >= column)
        out << "\n" << std::string(column, ' ');
    else
        out << std::string(column - head_width, ' ');
    printDescription(out, option.description(), column);
}

void OptionsHelpPrinter::printDescription(std::ostream& out, const std::string& text, unsigned column) const {
    // One column less than the line, so that a terminal of exactly that width does not wrap.
    const unsigned available = lineLength - 1 - column;
    std::vector<std::string> paragraphs;
    boost::algorithm::split(paragraphs, text, [](char c) { return c == '\n'; });
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            out << "\n" << std::string(column, ' ');
        printParagraph(out, paragraphs[i], column, available);
    }
}

void OptionsHelpPrinter::printParagraph(std::ostream& out, const std::string& paragraph, unsigned indent,
                                        unsigned available) const {
    if (utf8::width(paragraph) < available) {
        out << paragraph;
        return;
    }
    size_t begin = 0;
    bool first_line = true;
    while (begin < paragraph.size()) {
        // A single blank at the start of a continued line goes; more than one may be meant.
        if (!first_line && paragraph[begin] == ' ' && begin + 1 < paragraph.size() &&
            paragraph[begin + 1] != ' ')
            ++begin;
        size_t end = begin + fittingBytes(paragraph, begin, available);

        // Break at the last blank instead of inside a word, unless that blank lies in the first half.
        if (paragraph[end - 1] != ' ' && end < paragraph.size() && paragraph[end] != ' ') {
            const size_t blank = paragraph.rfind(' ', end - 1);
            if (blank != std::string::npos && blank >= begin) {
                const size_t after_blank = blank + 1;
                if (utf8::width(paragraph.substr(after_blank, end - after_blank)) < available / 2)
                    end = after_blank;
            }
        }

        out.write(paragraph.data() + begin, static_cast<std::streamsize>(end - begin));
        first_line = false;
        if (end != paragraph.size())
            out << "\n" << std::string(indent, ' ');
        begin = end;
    }
}
