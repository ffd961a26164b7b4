#pragma once

// One page of the console wizard, or a question or message shown between pages.
class Dialog {
public:
    // Results of run().
    static constexpr int NEXT = 200;
    static constexpr int BACK = 201;
    static constexpr int QUIT = 202;
    static constexpr int YES = 203;
    static constexpr int NO = 204;
    // The dialog only showed something or read an answer.
    static constexpr int CLOSED = 205;

    virtual ~Dialog() = default;
    virtual int run() = 0;
};
