#pragma once

#include <string>
#include <vector>

// The paths named on the command line, in order, duplicates kept. Filled by RunProgram before any
// window exists.
extern std::vector<std::string> CommandLinePaths;

// Tokenises the command line, runs the main window and its message pump, and returns the exit
// code: 1 after the main window is closed, 0 when it cannot be created.
int RunProgram(const char* commandLine, int showCommand);
