// What the console program needs of the operating system beyond the engine's
// platform: its arguments, its standard streams, the interrupt keys and
// signals, and the system's words for an error code. console_posix.cpp and
// console_win32.cpp implement it; the program is linked with one of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Once at start-up. Windows: no dialog for a drive without a medium or a
// file that cannot be opened; the call fails instead.
void prepareProcess();

// The command line's arguments after the program name, in UTF-8 (POSIX:
// the bytes as they came).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Writes the whole text; returns 0 or the system's code. A console gets the
// text as characters, anything else (a pipe, a file) its UTF-8 bytes.
int writeStandardOutput(std::string_view utf8);
int writeStandardError(std::string_view utf8);

// Whether standard error is a terminal (a console), and its width in
// columns; 0 when the width is unknown.
bool standardErrorIsTerminal();
int terminalColumns();

// Ctrl-C and Ctrl-Break, SIGINT and SIGTERM from now on: the first asks the
// scan to stop, a second one ends the program at once with exit code 130.
// Returns 0 or the system's code.
int installInterruptHandlers();

// Whether a listing that failed with this code found an empty folder rather
// than none: a drive root without entries (Windows' code 2). A folder that
// exists always lists "." on POSIX systems, so there nothing counts.
bool listingFoundNothing(int error);

// FOLDER as the system writes folders: on Windows '/' becomes '\', and a
// final '"' (what the command line makes of a final '\"') becomes '\'; on
// POSIX systems a backslash is part of a name and the text stays as it is.
std::string systemFolderForm(std::string_view folder);
