// Running a command for a test: its standard output and exit status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int status;           // exit status, or -1 when the command did not exit normally
    std::string output;   // standard output (standard error too where the command merges it)
};

// Runs a shell command line and waits for it.
ProcessResult Run_Command(const std::string &command);

// For a case that needs the process to itself, as CTest gives every case one: a player of its
// own (the loaders run once per process), a scene script of its own. The first such case of a
// process goes on in it; a later one, in a test binary run whole, is run again alone in a child
// process of this binary, whose failures become the case's. Returns whether the case goes on
// here: `if (!Run_CaseAlone()) return;`.
bool Run_CaseAlone();

// A fresh empty folder under the system's temporary folder, removed by the caller.
std::string Make_TempDir(const char *tag);

// The lines of a text, without their line ends.
std::vector<std::string> Split_Lines(const std::string &text);
