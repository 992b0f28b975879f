// What DOZECTL's Windows parts share: plain output to the standard handles,
// and the commands that live in files of their own.
#pragma once

#include "tools/dozectl_args.h"

// Writes text to standard output or error, each "\n" as CR LF. A handle that
// is missing (a windowless run with nothing redirected) takes nothing.
void WriteOut(const char* text);
void WriteErr(const char* text);
// "DOZECTL: message" on standard error; returns code.
int Fail(int code, const char* message);

// Whether folder\name is there and is a file.
bool ProgramBeside(const char* folder, const char* name);

int RunCheck();
int RunInstall(const DozectlRequest& request);
