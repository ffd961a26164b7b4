#include "installer/console/TextDialog.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "installer/driver/Options.h"

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <limits>

#include <termios.h>
#include <unistd.h>

namespace {

// Turns off the echo of the terminal on standard input for its lifetime; nothing when there is none.
// Input typed ahead is kept.
class EchoOff {
public:
    EchoOff() : active(tcgetattr(STDIN_FILENO, &saved) == 0) {
        if (!active)
            return;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (active)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
    bool isActive() const { return active; }

private:
    termios saved{};
    bool active;
};

} // namespace

void TextDialog::showTitle(const std::string& title) {
    Progress::checkTermination();
    if (noClearScreen) {
        std::cout << "\n\n\n\n\n";
    } else {
        std::cout.flush();
        (void)!std::system("clear");
    }
    std::cout << title << "\n" << std::string(79, '=') << "\n\n";
}

void TextDialog::showLegend(std::initializer_list<const char*> legendKeys, const char* promptKey) {
    std::cout << textOf("wizard_legend_header") << "\n";
    for (const char* key : legendKeys)
        std::cout << textOf(key) << "\n";
    std::cout << "\n" << textOf(promptKey);
}

const std::string& TextDialog::textOf(const char* key) {
    return Messages().getMessage(key);
}

std::string TextDialog::readLine() {
    Progress::checkTermination();
    std::string line;
    std::getline(std::cin, line);
    return line;
}

std::string TextDialog::readPassword() {
    Progress::checkTermination();
    std::string line;
    {
        std::cout.flush();
        EchoOff echoOff;
        std::getline(std::cin, line);
        // The Enter key was not echoed either.
        if (echoOff.isActive())
            std::cout << "\n";
    }
    requireInput(false);
    return line;
}

std::string TextDialog::readNewPassword(const std::string& prompt, const std::string& current) {
    for (;;) {
        std::cout << prompt;
        if (!current.empty())
            std::cout << " [" << std::string(current.size(), '*') << "]";
        std::cout << ": ";
        const std::string first = readPassword();
        if (first.empty()) {
            if (!current.empty())
                return current;
            continue;
        }
        std::cout << textOf("retype_password");
        if (readPassword() == first)
            return first;
        std::cout << textOf("err_passwds_missmatch") << "\n";
    }
}

TextDialog::Choice TextDialog::readChoice(const std::string& hint, char defaultLetter) {
    if (!hint.empty())
        std::cout << " [" << hint << "]: ";
    const std::string line = readLine();
    if (Progress::requestCancel()) {
        std::cin.clear();
        Progress::checkTermination();
    }
    requireInput(false);

    Choice choice;
    const unsigned char first = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
    if (line.empty())
        choice.letter = static_cast<unsigned char>(defaultLetter);
    else if (std::isalpha(first))
        choice.letter = line.size() == 1 ? static_cast<unsigned char>(std::toupper(first)) : otherLetter;
    else {
        choice.isNumber = 1;
        choice.number = static_cast<int>(std::atol(line.c_str()));
    }
    return choice;
}

std::string TextDialog::readString(const std::string& prompt, const std::string& defaultValue) {
    std::cout << prompt;
    if (!defaultValue.empty())
        std::cout << " [" << defaultValue << "]";
    std::cout << ": ";
    const std::string line = readLine();
    requireInput(false);
    return line.empty() ? defaultValue : line;
}

void TextDialog::pressEnter(const std::string& message) {
    std::cout << "\n\n" << message << "\n";
    Log::stream(1, true) << message;
    Progress::checkTermination();
    std::cout << textOf("message_press_enter") << " ";
    std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    // Input that ends before the Enter key is lost as well.
    requireInput(true);
}

std::string TextDialog::numberLegend(const std::string& prefix, unsigned count) {
    if (count == 0)
        return "b/q";
    if (count == 1)
        return prefix + "/1";
    return prefix + "/1-" + std::to_string(count);
}

void TextDialog::requireInput(bool atEnd) {
    if (std::cin.fail() || std::cin.bad() || (atEnd && std::cin.eof()))
        throw error(error::system, 2, 1, 1) << textOf("err_user_lost");
}
