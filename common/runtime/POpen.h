#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>

// A child process running a /bin/sh command line with its standard input fed from a stream and its
// standard output and error captured into streams. The streams are borrowed: they must outlive the
// POpen. A null input gives the child an empty standard input; null outputs are discarded.
class POpen {
public:
    static std::unique_ptr<POpen> start(const std::string& command, std::istream* input, std::ostream* output,
                                        std::ostream* errors);
    // The child changes into `directory` first when it is not empty.
    static std::unique_ptr<POpen> startIn(const std::string& command, std::istream* input,
                                          std::ostream* output, std::ostream* errors,
                                          const std::string& directory);
    POpen(const POpen&) = delete;
    POpen& operator=(const POpen&) = delete;
    ~POpen();

    // Moves data between the pipes and the streams until the child has ended, then takes what it left
    // in its pipes. With `echo`, the input is copied to our standard error and the output to the log.
    // Returns the wait status; raises Progress::Interrupted after a user cancel when cancellable.
    int wait(bool echo);

    int getPid() const { return pid; }

    // Whether a user cancel sends SIGTERM to the child.
    bool cancellable = false;

private:
    POpen(std::istream* input, std::ostream* output, std::ostream* errors);
    void run(const std::string& command, const std::string& directory);
    void closeInput();
    // False once the pipe has reached its end.
    bool pumpOutput(int& fd, std::ostream* to, bool echo);

    int stdinPipe[2] = {-1, -1};
    int stdoutPipe[2] = {-1, -1};
    int stderrPipe[2] = {-1, -1};
    int pid = -1;
    std::istream* input;
    std::ostream* output;
    std::ostream* errors;
};
