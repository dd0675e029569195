// Starting other programs (the BBS's file tool, the zip viewer). Results
// follow the Windows shell's codes: above 32 started; 2 program file not
// found; 3 its folder not found; 11 not an executable; 31 anything else.
#pragma once

#include <QString>

#include <functional>

// Program, parameters, working folder -> shell result code.
using LaunchHook = std::function<int(const QString&, const QString&, const QString&)>;
LaunchHook SetLaunchHook(LaunchHook hook);

// Starts `program` detached with `parameters` (one argument, passed as is;
// none when empty) in the folder part of the program path. Each text is cut
// to 260 characters. Does not wait for the program.
int LaunchProgram(const QString& program, const QString& parameters, int show);
