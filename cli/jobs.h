// Jobs: spool commands run in processes of their own, each child's
// standard output and error in files of this run.
#pragma once

#include "cli/spool.h"

// The most jobs a command runs at once.
#define JOBS_MAX 16

// A command line of a job: its arguments as the platform's command lines
// quote them.
#define JOB_LINE_MAX 8192
typedef struct {
    CHAR sz[JOB_LINE_MAX];
    size_t cch;
    BOOL fTooLong;
} JOBLINE;
void AppendArgument(JOBLINE *pLine, LPCSTR psz);

// A file of this run in the temporary folder, opened for reading and
// writing (GATE_MADE in *pProof); INVALID_HANDLE_VALUE when none can be made.
HANDLE MakeJobFile(LPSTR pszPath, GATEPROOF *pProof);
// A file of this run, made by a parent, opened again by its name (by a
// child, say) with dwAccess, sharing everything: INVALID_HANDLE_VALUE when
// it cannot be, or is no longer the file of identity *pId.
HANDLE OpenJobFile(LPCSTR pszPath, const FILEID *pId, DWORD dwAccess);

typedef struct {
    HANDLE hProcess;
    HANDLE ahOutput[2];  // its standard output and error
    CHAR aszOutput[2][MAX_PATH];
    GATEPROOF aProof[2];
} JOB;

// The program that runs a job: spool itself, or where spool's commands are
// part of another program (the tests), SPOOL_PROGRAM. FALSE when there is
// none: the work is then done in this process.
BOOL JobProgram(LPSTR pszProgram);
// Starts a child, its standard input hInput (or none); FALSE (after a
// message unless fQuiet) when it cannot be.
BOOL StartJob(LPCSTR pszProgram, JOBLINE *pLine, JOB *pJob, HANDLE hInput, BOOL fQuiet);
// Waits for a job and gives its exit code (SPOOL_ERROR when it is not known).
DWORD WaitForJob(JOB *pJob);
// What a job wrote to its standard output (0) or error (1), read from the
// start; NULL when it cannot be read or holds more than cbMax bytes. The
// bytes end in a NUL beyond *pcb; the caller frees them.
char *ReadJobOutput(JOB *pJob, int iOutput, DWORD cbMax, DWORD *pcb);
// Copies a job's standard output (0) or error (1) to pTo.
void CopyJobOutput(JOB *pJob, int iOutput, FILE *pTo);
// Deletes a job's output files.
void EndJobFiles(JOB *pJob);
// Waits for a job, shows what it said, ends its files and gives its exit
// status.
int EndJob(JOB *pJob);
