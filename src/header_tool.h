// The header generator: the product scanner and header records, the loop
// over data files and the tool's start-up. main only calls HDR_main.
#pragma once

#include <cstdio>

// Header-file treatment, as decided by the overwrite policy.
constexpr int HDR_MODE_NEW = 1;
constexpr int HDR_MODE_APPEND = 2;
constexpr int HDR_MODE_KEEP = 3;

// The work on one open data file: in append mode the resume of the
// existing header file, then the scan. `hfile` may be null.
int HDR_process(FILE* ifile, FILE* hfile, int mode);

// The loop over the sequence of data files; returns 0 at its end.
int HDR_file_loop();
// The whole tool, from its command line.
int HDR_main(int argc, char** argv);
