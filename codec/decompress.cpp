// Decompression from reference files.
//
// A frame whose data is a reference record is read from the reference file
// that the record names: a compressed frame goes to the wrapped codec in
// place of the record, a raw frame is the picture itself. Each instance keeps
// one reference file open per sequence, reuses it while the records name the
// same file, and can read the next frame ahead in the background.
#include "codec/spoolcap.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

BOOL ReadAll(HANDLE hFile, void *pData, DWORD cb)
{
    DWORD cbDone = 0;
    return ReadFile(hFile, pData, cb, &cbDone, NULL) && cbDone == cb;
}

BOOL SeekTo(HANDLE hFile, DWORD dwOffset)
{
    // Offsets in reference files are below 2^31.
    if (dwOffset > REFFILE_MAXSIZE) return FALSE;
    return SetFilePointer(hFile, (LONG)dwOffset, NULL, FILE_BEGIN) == dwOffset;
}

BOOL OpenReadFile(CODECINSTANCE *pInst, int iSeq, LPCSTR pszFileName)
{
    snprintf(pInst->szReadName[iSeq], MAX_PATH, "%s", pszFileName);
    HANDLE hFile = CreateFileA(pInst->szReadName[iSeq], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return FALSE;
    pInst->hReadFile[iSeq] = hFile;
    pInst->cReadOpens++;
    return TRUE;
}

// TRUE when cb bytes from pData lie in pages that can be read.
BOOL IsReadableMemory(const void *pData, DWORD cb)
{
    const DWORD dwReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                             PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    uintptr_t uFrom = (uintptr_t)pData;
    uintptr_t uTo = uFrom + cb;
    if (pData == NULL || uTo < uFrom) return FALSE;
    while (uFrom < uTo) {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery((LPCVOID)uFrom, &mbi, sizeof(mbi)) == 0) return FALSE;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & PAGE_GUARD) || !(mbi.Protect & dwReadable)) return FALSE;
        uintptr_t uRegionEnd = (uintptr_t)mbi.BaseAddress + mbi.RegionSize;
        if (uRegionEnd <= uFrom) return FALSE;
        uFrom = uRegionEnd;
    }
    return TRUE;
}

// TRUE when the host's input is a whole reference record. Without the
// host's size, the chunk counts as one only where a whole record's bytes can
// be read: a short chunk before an unreadable page is the codec's own data.
BOOL InputIsRecord(const ICDECOMPRESS *pid)
{
    if (pid == NULL) return FALSE;
    DWORD cbInput = pid->lpbiInput ? pid->lpbiInput->biSizeImage : 0;
    if (cbInput == 0) return IsReadableMemory(pid->lpInput, sizeof(REFRECORD)) && IsRefRecord(pid->lpInput, sizeof(REFRECORD));
    return cbInput >= sizeof(REFRECORD) && IsRefRecord(pid->lpInput, cbInput);
}

// The room of the host's output for a raw frame. The buffer of an
// uncompressed output format holds its whole picture, whatever biSizeImage
// says: Spoolcap sets biSizeImage to each raw frame's size, and a host that
// reuses the header would otherwise see the room shrink to the last frame.
DWORD RawOutputRoom(const BITMAPINFOHEADER *pbi)
{
    if (pbi->biCompression != BI_RGB && pbi->biCompression != BI_BITFIELDS) return DibImageSize(pbi);
    BITMAPINFOHEADER bihPicture = *pbi;
    bihPicture.biSizeImage = 0;
    DWORD cbPicture = DibImageSize(&bihPicture);
    return cbPicture > pbi->biSizeImage ? cbPicture : pbi->biSizeImage;
}

// Starts reading the frame at dwOffset ahead, when its data takes at most
// cbMax bytes: the worker reads its header and its data, off the host's
// thread. Any failure only means that nothing is read ahead.
void StartReadAhead(CODECINSTANCE *pInst, int iSeq, DWORD dwOffset, DWORD cbMax)
{
    IOWORKER *pReader = &pInst->aWorker[WORKER_READ0 + iSeq];
    pReader->nState.store(WORKER_IDLE);
    pInst->dwAheadOffset[iSeq] = dwOffset;
    memcpy(pInst->szAheadName[iSeq], pInst->szReadName[iSeq], MAX_PATH);
    // Only what the file already holds whole is read ahead: nothing while a
    // write of the file is in progress (the next frame may be in the
    // writer's hands), and nothing beyond the file's size at this moment.
    HANDLE hFile = pInst->hReadFile[iSeq];
    DWORD cbFile;
    if (!SettledRefFileSize(pInst->szReadName[iSeq], hFile, &cbFile)) return;
    if ((ULONGLONG)dwOffset + sizeof(REFFRAMEHEADER) > cbFile) return;
    // The header is not trusted for a size beyond what the frames at hand use.
    if (!PrepareWorker(pInst, pReader, (DWORD)sizeof(REFFRAMEHEADER) + cbMax)) return;
    pReader->cbReadable = cbFile - dwOffset;
    if (!SeekTo(hFile, dwOffset)) return;
    HandOverWorker(pReader);
}

}  // namespace

LRESULT DecompressFrame(DWORD_PTR dwDriverId, HDRVR hDriver, ICDECOMPRESS *pid, LPARAM cbid)
{
    // Anything but a whole record is the wrapped codec's own data.
    if (!InputIsRecord(pid)) return CallWrapped(dwDriverId, hDriver, ICM_DECOMPRESS, (LPARAM)pid, cbid);

    CODECINSTANCE *pInst = FindInstance(dwDriverId);
    if (!pInst) return ICERR_BADHANDLE;

    REFRECORD record;
    memcpy(&record, pid->lpInput, sizeof(record));
    record.szFileName[MAX_PATH - 1] = 0;
    int iSeq = RefRecordSequence(&record);
    BOOL fRaw = RefRecordIsRaw(&record);
    DWORD cbFrame = RefRecordFrameSize(&record);
    DWORD dwOffset = record.dwOffset;
    // A frame always holds its header.
    if (cbFrame < sizeof(REFFRAMEHEADER)) return ICERR_ERROR;
    if (fRaw ? (pid->lpbiOutput == NULL || pid->lpOutput == NULL) : pid->lpbiInput == NULL) return ICERR_BADFORMAT;

    if (pInst->hReadFile[iSeq] != INVALID_HANDLE_VALUE && !SameFileName(pInst->szReadName[iSeq], record.szFileName))
        CloseReadFile(pInst, iSeq, FALSE);
    if (pInst->hReadFile[iSeq] == INVALID_HANDLE_VALUE && !OpenReadFile(pInst, iSeq, record.szFileName))
        return ICERR_ERROR;

    // The data must fit where it goes: the rest of the record's frame, or
    // the host's output for a raw frame.
    BYTE *pOutput = static_cast<BYTE *>(pid->lpOutput);
    DWORD cbRoom = fRaw ? RawOutputRoom(pid->lpbiOutput) : cbFrame - (DWORD)sizeof(REFFRAMEHEADER);

    IOWORKER *pReader = &pInst->aWorker[WORKER_READ0 + iSeq];
    WaitWorkerIdle(pReader);
    REFFRAMEHEADER header;
    BOOL fReadAhead = g_Settings.fOverlapRead && pReader->nState.load() == WORKER_DONE &&
                      pInst->dwAheadOffset[iSeq] == dwOffset &&
                      SameFileName(pInst->szAheadName[iSeq], record.szFileName) &&
                      FrameHeaderFits(pInst->pAheadHeader[iSeq], cbFrame) &&
                      pInst->pAheadHeader[iSeq]->dwDataSize <= cbRoom;
    HANDLE hFile = pInst->hReadFile[iSeq];
    if (fReadAhead) {
        // The frame was read ahead.
        header = *pInst->pAheadHeader[iSeq];
    } else {
        // A frame whose write is still in progress is read once it is done.
        // The header's size is held to the record's frame and to what the
        // file holds, so that no buffer is made larger than the file allows.
        WaitForRefWrites(record.szFileName, (ULONGLONG)dwOffset + RefRecordFrameSize(&record));
        if (!SeekTo(hFile, dwOffset) || !ReadAll(hFile, &header, sizeof(header)) || header.dwDataSize > cbRoom ||
            (!fRaw && (ULONGLONG)dwOffset + sizeof(header) + header.dwDataSize > GetFileSize(hFile, NULL))) {
            CloseReadFile(pInst, iSeq, FALSE);
            return ICERR_ERROR;
        }
    }
    // The read buffer takes the header, and a compressed frame's data behind
    // it; a raw frame's data goes straight to the host's output. It only
    // grows. A compressed frame read ahead lies in the worker's buffer just
    // so: the two buffers change places, and nothing is copied.
    DWORD cbReadNeeded = (DWORD)sizeof(REFFRAMEHEADER) + (fRaw ? 0 : header.dwDataSize);
    BOOL fTaken = FALSE;
    if (fReadAhead && !fRaw && pReader->cbBuffer >= pInst->cbReadBuf[iSeq]) {
        BYTE *pTaken = pReader->pBuffer;
        DWORD cbTaken = pReader->cbBuffer;
        pReader->pBuffer = pInst->pReadBuf[iSeq];
        pReader->cbBuffer = pInst->cbReadBuf[iSeq];
        pInst->pReadBuf[iSeq] = pTaken;
        pInst->cbReadBuf[iSeq] = cbTaken;
        fTaken = TRUE;
    }
    if (pInst->pReadBuf[iSeq] == NULL || pInst->cbReadBuf[iSeq] < cbReadNeeded) {
        BYTE *pNew = static_cast<BYTE *>(realloc(pInst->pReadBuf[iSeq], cbReadNeeded));
        if (!pNew) {
            CloseReadFile(pInst, iSeq, FALSE);
            return ICERR_MEMORY;
        }
        pInst->pReadBuf[iSeq] = pNew;
        pInst->cbReadBuf[iSeq] = cbReadNeeded;
    }
    BYTE *pReadBuf = pInst->pReadBuf[iSeq];
    BYTE *pDest = fRaw ? pOutput : pReadBuf + sizeof(REFFRAMEHEADER);
    memcpy(pReadBuf, &header, sizeof(header));
    if (fReadAhead) {
        pInst->cAheadHits++;
        if (!fTaken) memcpy(pDest, pReader->pBuffer + sizeof(REFFRAMEHEADER), header.dwDataSize);
    } else if (!ReadAll(hFile, pDest, header.dwDataSize)) {
        CloseReadFile(pInst, iSeq, FALSE);
        return ICERR_ERROR;
    }

    if (g_Settings.fOverlapRead) {
        DWORD cbAheadMax = fRaw ? cbRoom : pInst->cbReadBuf[iSeq] - (DWORD)sizeof(REFFRAMEHEADER);
        StartReadAhead(pInst, iSeq, dwOffset + cbFrame, cbAheadMax);
    }

    if (fRaw) {
        pid->lpbiOutput->biSizeImage = header.dwDataSize;
        return ICERR_OK;
    }
    // The wrapped codec gets the stored data in place of the record, for the
    // length of one call.
    LPVOID pRecordInput = pid->lpInput;
    DWORD cbRecordInput = pid->lpbiInput->biSizeImage;
    pid->lpInput = pReadBuf + sizeof(REFFRAMEHEADER);
    pid->lpbiInput->biSizeImage = header.dwDataSize;
    LRESULT lResult = CallWrapped(dwDriverId, hDriver, ICM_DECOMPRESS, (LPARAM)pid, cbid);
    pid->lpInput = pRecordInput;
    pid->lpbiInput->biSizeImage = cbRecordInput;
    return lResult;
}
