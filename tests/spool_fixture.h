// Harness of the spool command line's tests: each command run in-process,
// its output and exit status taken back, the test's folder written "<dir>".
#pragma once

#include "cli/spool.h"

#include "tests/mover_fixture.h"

#include <stdio.h>

#include <string>
#include <vector>

// What was written to a temporary file; the file is closed.
std::string ReadBack(FILE *pFile);

struct RUN {
    int nStatus;
    std::string out;
    std::string err;
};

class Spool : public AviTest {
public:
    void SetUp() override;
    void TearDown() override;
    // Runs "spool ARGS..." with the test's folder written as "<dir>" in
    // what it prints.
    RUN Run(std::vector<std::string> args);
    std::string Clean(std::string text);
    // The language spool speaks (SPOOL_LANG): "en" or "ja".
    static void SetLanguage(const char *pszLang);
    // Sets (NULL: removes) a variable of the environment.
    static void SetEnvironment(const char *pszName, const char *pszValue);
    // An AVI of records naming the files in turn (frames of 8 x 8); the
    // files are written.
    std::string RecordAvi(const std::vector<std::string> &names, DWORD nFrames, const char *pszAvi = "rec.avi");
};
