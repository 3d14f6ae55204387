// Runs started with a command line: the window's own update check and install worker, their
// outcome as an exit code and as lines on the console of the parent process.
#pragma once

#include "app/command_line.h"

// This process's command line, parsed; a /dir that names a file, or a drive or share that does
// not exist, makes it Invalid. Reads the file system only.
SetupCommand readCommandLine();

// Usage and Invalid: the message of the fault, then the usage, on the console. Returns the exit
// code: 0 for /?, 2 otherwise.
int reportUsage(const SetupCommand& command);

// The language the window starts in: /lang (-1: not given), else the installed product's, else
// the user's Windows display language.
int32_t windowStartLanguage(int32_t commandLineLanguage);

// A whole line for the console, in the run's language.
void tellConsole(const std::wstring& line);

// The state the window or the run starts from: the default or installed folder, then the
// command's language, folder and shortcuts; Passive also starts on the progress page.
void prepareState(const SetupCommand& command);

// /check: the update check on this thread and the two versions on the console. Returns the exit
// code.
int runVersionCheck(const SetupCommand& command);

// /quiet and /passive: the update check, then the install worker when it offers something, both
// on the calling thread, then the product when /launch asks for it. Returns the exit code.
int runUnattendedInstall(const SetupCommand& command);

// Ctrl+C or a closed console ends the run as a closed window does.
void cancelOnConsoleBreak();

// Passive: runUnattendedInstall on a worker thread, which closes the window at its end (a
// failure stays on screen for a few seconds first). Failed when no thread can be made.
void startPassiveRun(const SetupCommand& command);

// The exit code of the passive run; "cancelled" until it has ended.
int passiveExitCode();
