// DOZECTL status: the supervisor's answers to the status query put into
// words, or into key=value lines for a monitoring script. Pure: the reading
// comes in as numbers, the text goes out into a bounded buffer.
#pragma once

#include <cstdint>

#include "app/status.h"
#include "tools/dozectl_text.h"

struct StatusReading {
    bool supervisorRuns = false;
    bool companionWindow = false;
    // Indexed by the STATUS_* field codes; all 0 from a supervisor that does
    // not answer the query (STATUS_VERSION 0).
    std::uint32_t fields[STATUS_FIELD_COUNT] = {};
};

void FormatStatus(const StatusReading& reading, bool keyValue, TextBuffer& text);
