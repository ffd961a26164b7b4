#pragma once

// Owner of the two ends of one pipe. Both ends are close-on-exec; -1 marks an end that is closed.
class Pipe {
public:
    Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe();

    // The write end.
    int in() const;
    // The read end.
    int out() const;
    void closeIn();
    void closeOut();
    // Hand an end over to a new owner (a stdio stream): it is no longer closed here.
    void releaseIn() { inFd = -1; }
    void releaseOut() { outFd = -1; }

private:
    int outFd = -1;
    int inFd = -1;
};
