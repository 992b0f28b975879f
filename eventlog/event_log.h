// The event log: "DOZEWARD.LOG" in the current directory, newest entry first.
#pragma once

// Puts one line with the current UTC time and the message at the head of the
// log. The entry is on the disk when this returns, or it is dropped (the file
// cannot be opened, is too large, or a step fails): either way the file holds
// its old contents, alone or behind the new line, byte for byte, and so it
// does at every moment in between, even if the process is ended half-way.
// Nothing is reported.
void WriteLogEntry(const char* message);
