#include "tests/spool_fixture.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>

std::string ReadBack(FILE *pFile)
{
    std::string text;
    fflush(pFile);
    rewind(pFile);
    char ach[4096];
    size_t cb;
    while ((cb = fread(ach, 1, sizeof(ach), pFile)) > 0) text.append(ach, cb);
    fclose(pFile);
    return text;
}

#ifdef _WIN32
#define SPOOL_PROGRAM_NAME "spool.exe"
#else
#define SPOOL_PROGRAM_NAME "spool"
#endif

void Spool::SetUp()
{
    AviTest::SetUp();
    SetLanguage("en");
    // The jobs of verify -r and resolve -r run the spool built beside the
    // tests.
    SetEnvironment("SPOOL_PROGRAM", (std::string(GetProgramFolder()) + SPOOL_PROGRAM_NAME).c_str());
}

void Spool::SetEnvironment(const char *pszName, const char *pszValue)
{
#ifdef _WIN32
    _putenv((std::string(pszName) + "=" + (pszValue ? pszValue : "")).c_str());
#else
    if (pszValue) setenv(pszName, pszValue, 1);
    else unsetenv(pszName);
#endif
}

void Spool::SetLanguage(const char *pszLang)
{
#ifdef _WIN32
    _putenv((std::string("SPOOL_LANG=") + pszLang).c_str());
#else
    setenv("SPOOL_LANG", pszLang, 1);
#endif
}

void Spool::TearDown()
{
    g_pOut = g_pErr = NULL;
    AviTest::TearDown();
}

RUN Spool::Run(std::vector<std::string> args)
{
    args.insert(args.begin(), "spool");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(NULL);
    g_pOut = tmpfile();
    g_pErr = tmpfile();
    RUN run;
    run.nStatus = SpoolMain((int)args.size(), argv.data());
    run.out = Clean(ReadBack(g_pOut));
    run.err = Clean(ReadBack(g_pErr));
    g_pOut = g_pErr = NULL;
    return run;
}

std::string Spool::Clean(std::string text)
{
    // JSON doubles each '\'.
    for (size_t at = 0; (at = text.find("\\\\", at)) != std::string::npos; at++) text.erase(at, 1);
    for (size_t at; (at = text.find(dir)) != std::string::npos;) text.replace(at, dir.size(), "<dir>");
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    for (char &c : text)
        if (c == '\\') c = '/';
    return text;
}

std::string Spool::RecordAvi(const std::vector<std::string> &names, DWORD nFrames, const char *pszAvi)
{
    std::vector<std::string> files;
    for (const std::string &name : names) files.push_back(Path(name.c_str()));
    std::vector<BYTE> bytes = BuildRecordAvi(files, nFrames, mmioFOURCC('S', 'M', 'P', 'L'));
    std::string avi = Path(pszAvi);
    EXPECT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    return avi;
}
