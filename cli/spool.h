// spool: the command line over the engines of Spoolmend, Spoolshift and
// Vfwprobe. What the commands share: their output streams, the language of
// their texts, the progress bar, path mapping and the engines' messages.
#pragma once

#include "platform/win.h"
#include "scaffold/filegate.h"
#include "scaffold/version.h"

#include <stdio.h>

// Exit statuses.
#define SPOOL_OK 0
#define SPOOL_PROBLEMS 1  // the check found problems
#define SPOOL_ERROR 2     // usage, or a file that could not be read or written

// Where the commands write: results to g_pOut, messages and the progress
// bar to g_pErr. Tests point them at files.
extern FILE *g_pOut;
extern FILE *g_pErr;
// Texts are Japanese (TRUE) or English.
extern BOOL g_fJapanese;
// The progress bar is drawn (the message stream is a terminal).
extern BOOL g_fProgressBar;

// Sets the language from the environment and the progress bar from the
// message stream, and routes the engines' messages to the message stream.
void InitSpoolOutput(void);

#ifdef _WIN32
// Windows gives a program its arguments in the program's code page, each
// character that the page cannot hold turned into a look-alike ('é' into
// 'e') or '?': such an argument would name another file, or set a value
// that reads back otherwise. FALSE, after a message naming the first such
// argument, when the command line holds one.
BOOL ArgumentsFitCodePage(LPCWSTR pwszCommandLine);
#endif

// The messages that the AVI reader and Spoolmend's engine showed since the
// count was cleared (the file commands' engines return theirs instead).
extern int g_nEngineMessages;

// Writes a text in the language of the run: one format for each, the same
// arguments.
void Say(FILE *pFile, LPCSTR pszEnglish, LPCSTR pszJapanese, ...);
// The same to the message stream, prefixed "spool: ".
void Complain(LPCSTR pszEnglish, LPCSTR pszJapanese, ...);
// A text as a JSON string, quotes included.
void PutJsonString(FILE *pFile, LPCSTR psz);

// The progress bar of a long step: begun with the total in its unit, moved
// with the count done, ended. It shows the percentage, the rate and the time
// left, from half a second into the step on.
#define PROGRESS_FRAMES 0
#define PROGRESS_BYTES 1
#define PROGRESS_PERCENT 2  // the total is 100
void BeginProgress(LPCSTR pszWhat, unsigned long long ullTotal, int nUnit);
void ShowProgress(unsigned long long ullDone);
void EndProgress(void);

// The size of a file by its path; FALSE when there is no such file.
BOOL GetPathSize(LPCSTR pszPath, unsigned long long *pullSize);

// Path mapping (--map 'D:\rec=/mnt/rec'): a name stored in a record, in
// this system's code page (scaffold/recordnames.h), that begins with a
// mapped prefix (letters in any case, '\' and '/' alike) is read at the
// other path, its separators made the platform's.
BOOL AddPathMap(LPCSTR pszRule);
void ClearPathMaps(void);
// The path at which a record's name is found (pszOut: MAX_PATH bytes);
// FALSE when it does not fit.
BOOL MapRefPath(LPCSTR pszRecord, LPSTR pszOut);
// A record's name as this system writes it, for what the commands print
// (pszOut: MAX_PATH bytes).
void ShownRecordName(LPCSTR pszRecord, LPSTR pszOut);

// The commands. Each takes the arguments after its name.
int SpoolMain(int argc, char **argv);
int ScanCommand(int argc, char **argv);
int SalvageCommand(int argc, char **argv);
int RefsCommand(int argc, char **argv);
int VerifyCommand(int argc, char **argv);
int MoveCommand(int argc, char **argv);
int DeleteCommand(int argc, char **argv);
int RecoverCommand(int argc, char **argv);
int ResolveCommand(int argc, char **argv);
int CodecsCommand(int argc, char **argv);
int InstallCommand(int argc, char **argv);
int UninstallCommand(int argc, char **argv);
int RepairCommand(int argc, char **argv);
int StatusCommand(int argc, char **argv);
int ConfigCommand(int argc, char **argv);
int LibraryCommand(int argc, char **argv);
// The parts of the trees that children read and whose lines were taken,
// over the run (tree commands with more than one job).
extern DWORD g_nLibraryPartsTaken;
// How many files of the pool that the parts claim the children read.
extern DWORD g_nLibraryPoolFilesTaken;
// The lines that a part's child (library --part) reads and writes: those
// of this program only.
#define LIBRARY_PART_FORMAT "format-2/" PRODUCT_VERSION
int CleanCommand(int argc, char **argv);
// spool refs --who FILE DIR...: the AVIs under the trees that name the file.
int WhoCommand(LPCSTR pszFile, int argc, char **argv);
// verify -r DIR... and resolve -r DIR... -o OUTDIR: each AVI of the trees
// in turn, and a summary with the worst exit status.
int TreeCommand(LPCSTR pszCommand, int argc, char **argv);
// verify's check of every record of an AVI, without a word: the counts,
// and verify's exit status.
#define VERIFY_CHECKS 7  // good, missing, no header, size, cut short, short record, not a file
typedef struct {
    DWORD nFrames, nRecords, nOther, nBad;
    DWORD anChecks[VERIFY_CHECKS];
} VERIFYCOUNTS;
int VerifyAviQuietly(LPCSTR pszAvi, VERIFYCOUNTS *pCounts);

// Reads an AVI's records and finds the reference files they name, each by
// its identity as Spoolshift's detection finds it, calling pfnName for each
// (its name as the records have it, where this system finds it, and what is
// there). *pfNote: a relocation's note stays beside the AVI.
#define AVINAMES_WHOLE 0    // every frame was read
#define AVINAMES_PARTIAL 1  // some frames were not seen: the AVI may name more
#define AVINAMES_FAILED 2   // the AVI could not be read
typedef void (*PFNAVINAME)(void *pv, LPCSTR pszName, LPCSTR pszPath, const FILEFACTS *pFacts);
int ReadAviNames(LPCSTR pszAvi, PFNAVINAME pfnName, void *pv, BOOL *pfNote);

// Option parsing shared by the commands: TRUE when argv[*pi] is the option
// (long name, or short name when given); the value, for an option that takes
// one, then in *ppszValue (the next argument, or after "=").
BOOL TakeOption(int argc, char **argv, int *pi, LPCSTR pszLong, LPCSTR pszShort, LPCSTR *ppszValue);
// The FOURCC of a text of 1 to 4 characters, blanks filling the rest.
BOOL ParseFourcc(LPCSTR psz, DWORD *pfcc);
// Reports an unknown option or a missing value; returns SPOOL_ERROR.
int UsageError(LPCSTR pszCommand, LPCSTR pszArgument);
// Prints a command's help: usage line and options, in the run's language.
int ShowCommandHelp(LPCSTR pszCommand);
