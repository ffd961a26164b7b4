#pragma once

#include <initializer_list>
#include <string>

// The console half of every wizard page: title, legends, and the reading of keys, numbers, texts and
// passwords. Output goes to standard output and input comes from standard input.
class TextDialog {
public:
    // A parsed answer of readChoice.
    struct Choice {
        int isNumber = 0;
        int number = 0;
        // Upper case; the default letter for an empty line; otherLetter for other text; 0 for a number.
        unsigned char letter = 0;
    };
    static constexpr unsigned char otherLetter = 255;

protected:
    // Clears the screen (or writes five line feeds when clearing is off) and writes the title over a rule.
    static void showTitle(const std::string& title);
    // The legend header, one line per key, an empty line and the prompt without a line end.
    static void showLegend(std::initializer_list<const char*> legendKeys, const char* promptKey);
    // The text of a catalogue key.
    static const std::string& textOf(const char* key);

    // One line of input without its line feed; the stream state is the caller's to check.
    static std::string readLine();
    // One line read without echo when standard input is a terminal. End of input raises.
    static std::string readPassword();
    // Asks a password twice until both entries agree; an empty first entry keeps a non-empty current value.
    static std::string readNewPassword(const std::string& prompt, const std::string& current);
    // Writes " [hint]: " unless the hint is empty, reads a line and parses it. End of input raises.
    static Choice readChoice(const std::string& hint, char defaultLetter);
    // Writes the prompt and " [default]" unless it is empty, then ": "; an empty answer gives the default.
    static std::string readString(const std::string& prompt, const std::string& defaultValue);
    // Shows the text, logs it as a warning and waits for Enter.
    static void pressEnter(const std::string& text);
    // The key hint of a list of `count` numbered items after the letters of `prefix`.
    static std::string numberLegend(const std::string& prefix, unsigned count);

private:
    // Raises the error of lost input when standard input failed or, with atEnd, reached its end.
    static void requireInput(bool atEnd);
};
