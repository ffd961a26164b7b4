#pragma once

#include "installer/patches/MUEntity.h"

#include <string>

// A patch item that runs one shell command.
class MUEntityCmd : public MUEntity {
public:
    MUEntityCmd(const counter_ptr& steps, const std::string& command);

    void check() override;
    void prepare() override;
    // A command that writes to standard error counts as failed; one that exits with a non-zero
    // status or dies of a signal fails the patch.
    void apply() override;

    const std::string& getCommand() const { return command; }

private:
    std::string command;
};
