// SPDX-License-Identifier: MIT
#include "app/command_line.h"

std::string CommandLineTail(int argc, char **argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return tail;
}

bool HasDebugSwitch(const std::string &tail) {
    return tail.find("/D") != std::string::npos || tail.find("/d") != std::string::npos;
}
