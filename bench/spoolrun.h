// Runs spool's commands in the benchmark's process, their output dropped.
#pragma once

#include "cli/spool.h"

#include <stdio.h>

#include <string>
#include <vector>

inline int RunSpool(std::vector<std::string> args)
{
    args.insert(args.begin(), "spool");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(NULL);
    g_pOut = g_pErr = fopen("/dev/null", "w");
    int nStatus = SpoolMain((int)args.size(), argv.data());
    fclose(g_pOut);
    g_pOut = g_pErr = NULL;
    return nStatus;
}
