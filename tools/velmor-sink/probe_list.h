// `velmor-sink --list --probe`: the Sources Found table on a terminal, from the same scanner as
// the window, for machines without a display.
#pragma once

#include <string>

#include "ndi/ndi_library.h"

namespace velmor::sink {

struct ProbeListOptions {
    std::string groups;    // empty: "Public"
    std::string extraIps;  // comma-separated addresses
    bool hideLocal = false;
    bool longTimeout = false;
    long findSeconds = 10;  // how long to wait for a first source
};

// Scans once and prints the table; returns the process's exit status (0, or 2 when no source was
// found within the time).
int PrintProbedSources(const NdiLibrary& ndi, const ProbeListOptions& options);

}  // namespace velmor::sink
