// spool resolve: a self-contained AVI from one whose frames are reference
// records. Each record's frame is read from its reference file and stored in
// its place; every other chunk is copied as it is. The input is read through
// the AVI layer, which keeps each stream's chunk list: memory grows with the
// number of chunks (24 bytes each), not with the frames' bytes.
//
// The result is an OpenDML AVI: a first RIFF "AVI " of at most 1 GiB with
// the classic idx1 over its chunks, then as many RIFF "AVIX" as the rest
// needs; each stream has a super index ("indx") in its header list that
// lists the standard indexes ("ixNN") closing each movi list, and "odml"
// holds the whole count of frames. Players of either kind of index read it.
//
// This file is the command: its arguments, the input's checks, the working
// files and what is said at the end. The passes are resolve_measure.cpp and
// resolve_write.cpp.
#include "cli/resolve.h"
#include "scaffold/filegate.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Whether anything stands at a name (a dangling link too).
BOOL NameTaken(LPCSTR pszName)
{
    FILEFACTS facts;
    LookAtName(pszName, &facts);
    return facts.nKind != FILEKIND_MISSING || facts.fLink;
}

// Says why the layer could not read the input.
void SayUnread(LPCSTR pszAvi, int nResult)
{
    switch (nResult) {
    case AVIREAD_NOT_AVI:
        Complain("%s is not an AVI", "%sはAVIファイルではありません", pszAvi);
        break;
    case AVIREAD_NO_HDRL:
    case AVIREAD_NO_MOVI:
        Complain("%s has no header list or no movi list", "%sにhdrlまたはmoviリストがありません", pszAvi);
        break;
    case AVIREAD_NO_MEMORY:
        Complain("out of memory", "メモリが確保できません");
        break;
    default:
        Complain("%s cannot be read", "%sが読み出せません", pszAvi);
        break;
    }
}

}  // namespace

int ResolveCommand(int argc, char **argv)
{
    for (int i = 0; i < argc; i++)
        if (strcmp(argv[i], "-r") == 0 || strcmp(argv[i], "--recursive") == 0) return TreeCommand("resolve", argc, argv);
    LPCSTR pszAvi = NULL, pszOut = NULL;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) return UsageError("resolve", pszValue ? pszValue : argv[i]);
        } else if (TakeOption(argc, argv, &i, "--output", "-o", &pszValue)) {
            if (!pszValue) return UsageError("resolve", argv[i]);
            pszOut = pszValue;
        } else if (argv[i][0] == '-' || pszAvi) {
            return UsageError("resolve", argv[i]);
        } else {
            pszAvi = argv[i];
        }
    }
    if (!pszAvi || !pszOut) return UsageError("resolve", pszAvi ? "-o OUT.avi" : "AVI");

    RESOLVE state;
    memset(&state, 0, sizeof(state));
    state.pszAvi = pszAvi;
    state.pszOut = pszOut;
    state.ullRiffLimit = RESOLVE_RIFF_LIMIT;
    LPCSTR pszLimit = getenv("SPOOL_RIFF_LIMIT");
    if (pszLimit && strtoull(pszLimit, NULL, 10) >= 4096) state.ullRiffLimit = strtoull(pszLimit, NULL, 10);
    state.hRef = INVALID_HANDLE_VALUE;
    HANDLE hIn = CreateFileA(pszAvi, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hIn == INVALID_HANDLE_VALUE) {
        Complain("%s cannot be opened", "%sがオープンできません", pszAvi);
        return SPOOL_ERROR;
    }

    int nStatus = SPOOL_ERROR;
    CHAR szTemp[MAX_PATH] = "", szIndexFile[MAX_PATH] = "";
    HANDLE hTemp = INVALID_HANDLE_VALUE, hIndex = INVALID_HANDLE_VALUE;
    BOOL fTempMade = FALSE, fIndexMade = FALSE, fRenamed = FALSE;
    // The working files' identities from their making: only they are
    // renamed or deleted later.
    GATEPROOF tempProof = {GATE_MADE, {0, 0, 0}, 0}, indexProof = {GATE_MADE, {0, 0, 0}, 0};
    int nRead = AVIREAD_OK;
    if (SameFile(pszAvi, pszOut)) {
        // The AVI of records would be replaced: its records, and the names
        // of its reference files, would be gone.
        Complain("the output %s is the AVI being resolved; choose another name",
                 "出力先%sは解決するAVIファイルです. 別の名前を選んで下さい", pszOut);
    } else if (snprintf(szTemp, sizeof(szTemp), "%s.part", pszOut) >= (int)sizeof(szTemp) ||
               snprintf(szIndexFile, sizeof(szIndexFile), "%s.idx.part", pszOut) >= (int)sizeof(szIndexFile)) {
        szTemp[0] = szIndexFile[0] = '\0';
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszOut);
    } else if ((nRead = ReadAndMeasure(&state, hIn)) != AVIREAD_OK) {
        // A stop was said by the measure.
        if (nRead != AVIREAD_STOPPED) SayUnread(pszAvi, nRead);
    } else if (state.avi.pRiffs[0].ullMovi < state.avi.ullHdrl) {
        SayUnread(pszAvi, AVIREAD_NO_HDRL);
    } else if (!RiffSetBlock(&state.avi.file, RESOLVE_READ_BLOCK)) {
        Complain("out of memory", "メモリが確保できません");
    } else if (TakeRawFormat(&state)) {
        SizeSuperIndexes(&state);
        // The working files are made new: a file of those names that is
        // there already is someone else's and stays as it is.
        LPCSTR pszExisting = NULL;
        // Written from beginning to end: the system may send its bytes to
        // the disk as they come.
        hTemp = GateCreateNew(szTemp, GENERIC_READ | GENERIC_WRITE, &tempProof.id, FILE_FLAG_SEQUENTIAL_SCAN);
        fTempMade = hTemp != INVALID_HANDLE_VALUE;
        if (!fTempMade && NameTaken(szTemp)) pszExisting = szTemp;
        hIndex = GateCreateNew(szIndexFile, GENERIC_READ | GENERIC_WRITE, &indexProof.id);
        fIndexMade = hIndex != INVALID_HANDLE_VALUE;
        if (!fIndexMade && NameTaken(szIndexFile)) pszExisting = szIndexFile;
        if (pszExisting) {
            Complain("%s is there already and is left as it is: remove it, or choose another output name",
                     "%sがすでにあるため, そのままにしました. 削除するか, 別の出力先を選んで下さい", pszExisting);
        } else if (hTemp == INVALID_HANDLE_VALUE || hIndex == INVALID_HANDLE_VALUE) {
            Complain("%s cannot be created", "%sが作成できません", szTemp);
        } else if (!AviOutOpen(&state.out, hTemp, AVIOUT_BUFFER, TRUE) || !AviOutOpen(&state.idx1, hIndex, AVIOUT_BUFFER, FALSE)) {
            Complain("out of memory", "メモリが確保できません");
        } else if (WriteResolved(&state)) {
            BOOL fWritten = AviOutDrain(&state.out) && FlushFileBuffers(hTemp);
            AviOutClose(&state.out);
            CloseHandle(hTemp);
            hTemp = INVALID_HANDLE_VALUE;
            if (!fWritten) {
                Complain("%s cannot be written", "%sに書き込めません", szTemp);
            } else if (GateRename(szTemp, &tempProof, pszOut, TRUE) != GATE_DONE) {
                Complain("%s cannot be created", "%sが作成できません", pszOut);
            } else {
                fRenamed = TRUE;
                Say(g_pOut, "%s: %lu frames resolved\n", "%s: %lu フレームを解決しました\n", pszOut, (unsigned long)state.nResolved);
                nStatus = SPOOL_OK;
                // Index entries that name no chunk, and frames that no index
                // lists: their key flags were not known.
                if (state.avi.nUnplaced) {
                    Complain("%lu entries of the index of %s matched no chunk at the place they name; chunks they did not list were taken as key frames",
                             "%lu 個の%sのインデックスエントリが示す位置のチャンクと一致しません. 一覧にないチャンクはキーフレームとしました",
                             (unsigned long)state.avi.nUnplaced, pszAvi);
                    nStatus = SPOOL_PROBLEMS;
                }
                if (state.nUnlisted) {
                    Complain("%lu frames of %s are listed by no index; they were taken as key frames",
                             "%lu 個の%sのフレームがどのインデックスにもないため, キーフレームとしました",
                             (unsigned long)state.nUnlisted, pszAvi);
                    nStatus = SPOOL_PROBLEMS;
                }
            }
        }
    }
    EndProgress();
    AviOutClose(&state.out);
    AviOutClose(&state.idx1);
    if (hTemp != INVALID_HANDLE_VALUE) CloseHandle(hTemp);
    if (hIndex != INVALID_HANDLE_VALUE) CloseHandle(hIndex);
    if (state.hRef != INVALID_HANDLE_VALUE) {
        RiffCloseFile(&state.ref);
        CloseHandle(state.hRef);
    }
    AviFreePlaces(&state.places);
    AviOdmlFree(&state.odml);
    FreeAvi(&state.avi);
    CloseHandle(hIn);
    if (fIndexMade) GateDelete(szIndexFile, &indexProof);
    if (fTempMade && !fRenamed) GateDelete(szTemp, &tempProof);
    return nStatus;
}
