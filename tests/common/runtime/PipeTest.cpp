#include "common/runtime/Pipe.h"
#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

TEST(PipeTest, CarriesDataFromInToOut) {
    Pipe pipe;
    ASSERT_EQ(write(pipe.in(), "abc", 3), 3);
    pipe.closeIn();
    char buffer[8];
    EXPECT_EQ(read(pipe.out(), buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(read(pipe.out(), buffer, sizeof buffer), 0);
}

// Children must never inherit the installer's pipes, and moving a child's end onto 0, 1 or 2 must
// not overwrite the other end.
TEST(PipeTest, EndsAreCloseOnExecAndAboveTheStandardDescriptors) {
    const int saved_stdin = dup(0);
    close(0);
    Pipe pipe;
    dup2(saved_stdin, 0);
    close(saved_stdin);
    for (int fd : {pipe.in(), pipe.out()}) {
        EXPECT_GT(fd, 2);
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
    }
}

TEST(PipeTest, ClosedEndRaises) {
    struct Case {
        const char* name;
        std::function<void(Pipe&)> close;
        std::function<int(Pipe&)> use;
        const char* text;
    };
    const Case cases[] = {
        {"in", [](Pipe& p) { p.closeIn(); }, [](Pipe& p) { return p.in(); },
         "Pipe: in() end is already closed"},
        {"out", [](Pipe& p) { p.closeOut(); }, [](Pipe& p) { return p.out(); },
         "Pipe: out() end is already closed"},
    };
    for (const Case& c : cases) {
        Pipe pipe;
        c.close(pipe);
        c.close(pipe); // a second close does nothing
        try {
            c.use(pipe);
            ADD_FAILURE() << c.name << " did not raise";
        } catch (const error& e) {
            EXPECT_EQ(e.getText(), std::string(c.text) + "\n") << c.name;
            EXPECT_EQ(e.getClass(), 3);
            EXPECT_EQ(e.getRepeat(), 2);
            EXPECT_EQ(e.getSystemState(), 1);
            EXPECT_EQ(e.getSupport(), 3);
        }
    }
}

} // namespace
