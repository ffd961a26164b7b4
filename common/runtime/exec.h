#pragma once

#include <ostream>
#include <string>
#include <vector>

// Running external programs through /bin/sh.
namespace exec {

// Runs the command with an empty standard input, its output and error output going to the given
// streams (null: discarded), and maps its end to the installer's errors. A user cancel stops it.
// Without `check` only a signal or a shell that could not start raise; the exit code is returned.
int run_command(const std::string& command, bool echo, bool check, std::ostream* output,
                std::ostream* errors);

// The output lines of a short query, each trimmed; `arguments` is appended after a blank when not empty.
// The command keeps the installer's environment.
std::vector<std::string> get_output_lines(const std::string& command, const std::string& arguments);
// The first of those lines; no output at all raises err_empty_output.
std::string get_output(const std::string& command, const std::string& arguments);

// Starts the command in the background, out of our process group's life: it is not waited for and its
// output is discarded. `input`, when given, is written to its standard input.
void run_detached(const std::string& command, const std::string* input);

// Moves the calling process out of the control groups it was started in, so that stopping the
// service that started the installer does not stop the installer.
void detach_from_cgroups();

// The program a command line runs: its first word that is not "env", not "sh" and no assignment.
std::string command_name(const std::string& command);

} // namespace exec
