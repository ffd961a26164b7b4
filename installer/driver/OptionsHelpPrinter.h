#pragma once

#include "installer/driver/Options.h"

#include <ostream>
#include <string>
#include <vector>

// Prints groups of command-style options in the layout of the option library's own printer, but
// measures text in terminal columns: a line never ends inside a multi-byte character, and East
// Asian wide characters take two columns.
class OptionsHelpPrinter {
public:
    // Lines are at most `lineLength` columns; descriptions keep at least `minDescriptionLength`.
    OptionsHelpPrinter(unsigned lineLength, unsigned minDescriptionLength);

    // Each group: an empty line, the caption with ":", then one entry per option.
    void print(std::ostream& out, const std::vector<OptionGroup>& groups) const;
    // The column where descriptions start.
    unsigned descriptionColumn(const std::vector<OptionGroup>& groups) const;

private:
    void printOption(std::ostream& out, const boost::program_options::option_description& option,
                     unsigned column) const;
    void printDescription(std::ostream& out, const std::string& text, unsigned column) const;
    void printParagraph(std::ostream& out, const std::string& paragraph, unsigned indent,
                        unsigned available) const;

    unsigned lineLength;
    unsigned minDescriptionLength;
};
