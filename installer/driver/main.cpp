#include "installer/driver/Driver.h"

int main(int argc, char** argv) {
    return driver::exitCodeOf([&] { driver::run(argc, argv); });
}
