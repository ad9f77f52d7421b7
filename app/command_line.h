// SPDX-License-Identifier: MIT
// The command line as the shell sees it.
#ifndef APP_COMMAND_LINE_H
#define APP_COMMAND_LINE_H

#include <string>

// The text after the program name: the arguments joined by single spaces.
std::string CommandLineTail(int argc, char **argv);

// "/D" or "/d" anywhere in the tail turns the debug log on, even inside a
// longer word such as c:/data.
bool HasDebugSwitch(const std::string &tail);

#endif
