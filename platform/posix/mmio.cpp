// Buffered multimedia file I/O for RIFF files, with the platform's descend
// and ascend semantics:
//
// - mmioDescend reads the chunk header at the current position (8 bytes, and
//   the form type for "RIFF" and "LIST"), searching forward chunk by chunk
//   (each followed by its pad byte) for the id asked for with
//   MMIO_FINDCHUNK, a "RIFF" form with MMIO_FINDRIFF or a "LIST" with
//   MMIO_FINDLIST, or entering the next chunk whatever it is with no flag.
//   Inside a parent it never goes beyond the parent's end. It leaves the
//   position at the chunk's data (after the form type of a RIFF or LIST);
//   MMIOERR_CHUNKNOTFOUND when there is no such chunk.
// - mmioAscend moves to the end of the chunk, past its pad byte; a chunk
//   made with mmioCreateChunk first gets its size fixed up (and a pad byte
//   when the size is odd).
// - mmioCreateChunk writes a chunk header at the current position.
#include "internal.h"

#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

const DWORD MMIO_MAGIC = 0x4D4D494F;  // 'MMIO'
const LONG DEFAULT_BUFFER = 8192;

struct MMIOFILE {
    DWORD dwMagic;
    HANDLE hFile;
    bool fGivenHandle;  // opened on the caller's handle
    bool fWritable;
    // The buffer holds the file's bytes from dwBufStart on: cbValid of them
    // read or written, bytes [dwDirtyLo, dwDirtyHi) changed and not yet
    // written back.
    BYTE *pBuffer;
    DWORD cbBuffer;
    DWORD dwBufStart;
    DWORD cbValid;
    DWORD dwDirtyLo;
    DWORD dwDirtyHi;
    DWORD dwPos;  // the logical position
};

MMIOFILE *FromHandle(HMMIO hmmio)
{
    MMIOFILE *pFile = reinterpret_cast<MMIOFILE *>(hmmio);
    return pFile && pFile->dwMagic == MMIO_MAGIC ? pFile : NULL;
}

bool WriteBack(MMIOFILE *pFile)
{
    if (pFile->dwDirtyHi <= pFile->dwDirtyLo) return true;
    DWORD dwAt = pFile->dwBufStart + pFile->dwDirtyLo;
    DWORD cb = pFile->dwDirtyHi - pFile->dwDirtyLo;
    DWORD cbDone = 0;
    bool fOk = SetFilePointer(pFile->hFile, (LONG)dwAt, NULL, FILE_BEGIN) == dwAt &&
               WriteFile(pFile->hFile, pFile->pBuffer + pFile->dwDirtyLo, cb, &cbDone, NULL) && cbDone == cb;
    pFile->dwDirtyLo = pFile->dwDirtyHi = 0;
    return fOk;
}

// Makes the buffer hold the bytes at the current position: for reading, a
// byte that is there; for writing, a place in the buffer right at or before
// the end of what it holds.
bool Fill(MMIOFILE *pFile, bool fForWrite)
{
    DWORD dwOff = pFile->dwPos - pFile->dwBufStart;
    bool fInside = pFile->dwPos >= pFile->dwBufStart &&
                   (fForWrite ? dwOff < pFile->cbBuffer && dwOff <= pFile->cbValid : dwOff < pFile->cbValid);
    if (fInside) return true;
    if (!WriteBack(pFile)) return false;
    pFile->dwBufStart = pFile->dwPos;
    pFile->cbValid = 0;
    if (SetFilePointer(pFile->hFile, (LONG)pFile->dwPos, NULL, FILE_BEGIN) != pFile->dwPos) return true;
    DWORD cbRead = 0;
    if (ReadFile(pFile->hFile, pFile->pBuffer, pFile->cbBuffer, &cbRead, NULL)) pFile->cbValid = cbRead;
    return true;
}

DWORD FileSize(MMIOFILE *pFile)
{
    DWORD dwSize = GetFileSize(pFile->hFile, NULL);
    DWORD dwBufferedEnd = pFile->dwBufStart + pFile->cbValid;
    return dwBufferedEnd > dwSize ? dwBufferedEnd : dwSize;
}

}  // namespace

extern "C" HMMIO WINAPI mmioOpenA(LPSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen)
{
    // The caller's open file.
    bool fGiven = !pszFileName && pmmioinfo && pmmioinfo->fccIOProc == FOURCC_DOS && pmmioinfo->adwInfo[0];
    if (!pszFileName && !fGiven) return NULL;
    DWORD dwAccess = GENERIC_READ;
    if (fdwOpen & MMIO_WRITE) dwAccess = GENERIC_WRITE;
    if (fdwOpen & MMIO_READWRITE) dwAccess = GENERIC_READ | GENERIC_WRITE;
    DWORD dwShare;
    switch (fdwOpen & 0x70) {
    case MMIO_EXCLUSIVE: dwShare = 0; break;
    case MMIO_DENYWRITE: dwShare = FILE_SHARE_READ; break;
    case MMIO_DENYREAD: dwShare = FILE_SHARE_WRITE; break;
    default: dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    }
    DWORD dwDisposition = (fdwOpen & MMIO_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING;
    if (fdwOpen & MMIO_CREATE) dwAccess |= GENERIC_WRITE;
    HANDLE hFile = fGiven ? (HANDLE)pmmioinfo->adwInfo[0]
                          : CreateFileA(pszFileName, dwAccess, dwShare, NULL, dwDisposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return NULL;
    MMIOFILE *pFile = new (std::nothrow) MMIOFILE();
    BYTE *pBuffer = static_cast<BYTE *>(malloc(DEFAULT_BUFFER));
    if (!pFile || !pBuffer) {
        delete pFile;
        free(pBuffer);
        if (!fGiven) CloseHandle(hFile);
        return NULL;
    }
    pFile->dwMagic = MMIO_MAGIC;
    pFile->hFile = hFile;
    pFile->fGivenHandle = fGiven;
    pFile->fWritable = (dwAccess & GENERIC_WRITE) != 0;
    pFile->pBuffer = pBuffer;
    pFile->cbBuffer = DEFAULT_BUFFER;
    return reinterpret_cast<HMMIO>(pFile);
}

extern "C" MMRESULT WINAPI mmioFlush(HMMIO hmmio, UINT fuFlush)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile) return MMIOERR_CANNOTWRITE;
    if (!WriteBack(pFile)) return MMIOERR_CANNOTWRITE;
    if (fuFlush & MMIO_EMPTYBUF) pFile->cbValid = 0;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI mmioGetInfo(HMMIO hmmio, LPMMIOINFO pmmioinfo, UINT)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || !pmmioinfo) return MMSYSERR_INVALPARAM;
    memset(pmmioinfo, 0, sizeof(*pmmioinfo));
    pmmioinfo->adwInfo[0] = (DWORD_PTR)pFile->hFile;
    pmmioinfo->hmmio = hmmio;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI mmioSetBuffer(HMMIO hmmio, LPSTR pchBuffer, LONG cchBuffer, UINT)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || pchBuffer != NULL || cchBuffer < 0) return MMSYSERR_INVALPARAM;
    if (!WriteBack(pFile)) return MMIOERR_CANNOTWRITE;
    BYTE *pNew = NULL;
    if (cchBuffer > 0) {
        pNew = static_cast<BYTE *>(malloc((size_t)cchBuffer));
        if (!pNew) return MMIOERR_OUTOFMEMORY;
    }
    free(pFile->pBuffer);
    pFile->pBuffer = pNew;
    pFile->cbBuffer = (DWORD)cchBuffer;
    pFile->dwBufStart = pFile->dwPos;
    pFile->cbValid = 0;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT uFlags)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile) return MMIOERR_CANNOTCLOSE;
    MMRESULT mmr = WriteBack(pFile) ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
    if (!(pFile->fGivenHandle && (uFlags & MMIO_FHOPEN))) CloseHandle(pFile->hFile);
    free(pFile->pBuffer);
    pFile->dwMagic = 0;
    delete pFile;
    return mmr;
}

extern "C" LONG WINAPI mmioRead(HMMIO hmmio, HPSTR pch, LONG cch)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || cch < 0) return -1;
    LONG cbDone = 0;
    while (cbDone < cch) {
        if (cch - cbDone >= (LONG)pFile->cbBuffer) {
            // Large reads go straight to the file, past the buffer.
            if (!WriteBack(pFile)) return -1;
            pFile->cbValid = 0;
            DWORD cbRead = 0;
            if (SetFilePointer(pFile->hFile, (LONG)pFile->dwPos, NULL, FILE_BEGIN) != pFile->dwPos) break;
            if (!ReadFile(pFile->hFile, pch + cbDone, (DWORD)(cch - cbDone), &cbRead, NULL)) return -1;
            pFile->dwPos += cbRead;
            cbDone += (LONG)cbRead;
            break;
        }
        if (!Fill(pFile, false)) return -1;
        DWORD dwOff = pFile->dwPos - pFile->dwBufStart;
        if (dwOff >= pFile->cbValid) break;  // end of file
        DWORD cb = pFile->cbValid - dwOff;
        if (cb > (DWORD)(cch - cbDone)) cb = (DWORD)(cch - cbDone);
        memcpy(pch + cbDone, pFile->pBuffer + dwOff, cb);
        cbDone += (LONG)cb;
        pFile->dwPos += cb;
    }
    return cbDone;
}

extern "C" LONG WINAPI mmioWrite(HMMIO hmmio, const char *pch, LONG cch)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || cch < 0 || !pFile->fWritable) return -1;
    if (pFile->cbBuffer == 0) {
        // Without a buffer the bytes go to the file at once.
        DWORD cbWritten = 0;
        if (SetFilePointer(pFile->hFile, (LONG)pFile->dwPos, NULL, FILE_BEGIN) != pFile->dwPos ||
            !WriteFile(pFile->hFile, pch, (DWORD)cch, &cbWritten, NULL))
            return -1;
        pFile->dwPos += cbWritten;
        return (LONG)cbWritten;
    }
    LONG cbDone = 0;
    while (cbDone < cch) {
        if (!Fill(pFile, true)) return -1;
        DWORD dwOff = pFile->dwPos - pFile->dwBufStart;
        DWORD cb = pFile->cbBuffer - dwOff;
        if (cb > (DWORD)(cch - cbDone)) cb = (DWORD)(cch - cbDone);
        memcpy(pFile->pBuffer + dwOff, pch + cbDone, cb);
        if (pFile->dwDirtyHi <= pFile->dwDirtyLo) {
            pFile->dwDirtyLo = dwOff;
            pFile->dwDirtyHi = dwOff + cb;
        } else {
            if (dwOff < pFile->dwDirtyLo) pFile->dwDirtyLo = dwOff;
            if (dwOff + cb > pFile->dwDirtyHi) pFile->dwDirtyHi = dwOff + cb;
        }
        if (dwOff + cb > pFile->cbValid) pFile->cbValid = dwOff + cb;
        cbDone += (LONG)cb;
        pFile->dwPos += cb;
    }
    return cbDone;
}

extern "C" LONG WINAPI mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile) return -1;
    LONGLONG llBase;
    switch (iOrigin) {
    case SEEK_SET: llBase = 0; break;
    case SEEK_CUR: llBase = pFile->dwPos; break;
    case SEEK_END: llBase = FileSize(pFile); break;
    default: return -1;
    }
    LONGLONG llPos = llBase + lOffset;
    if (llPos < 0 || llPos > 0x7FFFFFFF) return -1;
    pFile->dwPos = (DWORD)llPos;
    return (LONG)llPos;
}

extern "C" MMRESULT WINAPI mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, const MMCKINFO *pmmckiParent, UINT fuDescend)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || !pmmcki) return MMIOERR_CHUNKNOTFOUND;
    FOURCC ckidWanted = 0;
    FOURCC fccTypeWanted = 0;
    if (fuDescend & MMIO_FINDCHUNK) ckidWanted = pmmcki->ckid;
    if (fuDescend & MMIO_FINDLIST) {
        ckidWanted = FOURCC_LIST;
        fccTypeWanted = pmmcki->fccType;
    }
    if (fuDescend & MMIO_FINDRIFF) {
        ckidWanted = FOURCC_RIFF;
        fccTypeWanted = pmmcki->fccType;
    }
    ULONGLONG ullEnd = pmmckiParent ? (ULONGLONG)pmmckiParent->dwDataOffset + pmmckiParent->cksize : ~0ull;
    DWORD dwPos = pFile->dwPos;
    for (;;) {
        if ((ULONGLONG)dwPos + 8 > ullEnd) return MMIOERR_CHUNKNOTFOUND;
        pFile->dwPos = dwPos;
        DWORD adwHeader[3] = {0, 0, 0};
        if (mmioRead(hmmio, reinterpret_cast<HPSTR>(adwHeader), 8) != 8) {
            pFile->dwPos = dwPos;
            return MMIOERR_CHUNKNOTFOUND;
        }
        MMCKINFO found;
        found.ckid = adwHeader[0];
        found.cksize = adwHeader[1];
        found.fccType = 0;
        found.dwDataOffset = dwPos + 8;
        found.dwFlags = 0;
        bool fForm = found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST;
        if (fForm && mmioRead(hmmio, reinterpret_cast<HPSTR>(&found.fccType), 4) != 4) {
            pFile->dwPos = dwPos;
            return MMIOERR_CHUNKNOTFOUND;
        }
        if (ckidWanted == 0 || (found.ckid == ckidWanted && (!fccTypeWanted || found.fccType == fccTypeWanted))) {
            *pmmcki = found;
            pFile->dwPos = found.dwDataOffset + (fForm ? 4 : 0);
            return MMSYSERR_NOERROR;
        }
        ULONGLONG ullNext = (ULONGLONG)found.dwDataOffset + found.cksize + (found.cksize & 1);
        if (ullNext > 0x7FFFFFFF) {
            pFile->dwPos = dwPos;
            return MMIOERR_CHUNKNOTFOUND;
        }
        dwPos = (DWORD)ullNext;
    }
}

extern "C" MMRESULT WINAPI mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || !pmmcki) return MMIOERR_CANNOTSEEK;
    if (pmmcki->dwFlags & MMIO_DIRTY) {
        DWORD dwNewSize = pFile->dwPos - pmmcki->dwDataOffset;
        if (dwNewSize != pmmcki->cksize) {
            pmmcki->cksize = dwNewSize;
            if (dwNewSize & 1) {
                char chPad = 0;
                if (mmioWrite(hmmio, &chPad, 1) != 1) return MMIOERR_CANNOTWRITE;
            }
            if (mmioSeek(hmmio, (LONG)(pmmcki->dwDataOffset - 4), SEEK_SET) < 0) return MMIOERR_CANNOTSEEK;
            if (mmioWrite(hmmio, reinterpret_cast<const char *>(&dwNewSize), 4) != 4) return MMIOERR_CANNOTWRITE;
        }
        pmmcki->dwFlags &= ~MMIO_DIRTY;
    }
    ULONGLONG ullEnd = (ULONGLONG)pmmcki->dwDataOffset + pmmcki->cksize + (pmmcki->cksize & 1);
    if (ullEnd > 0x7FFFFFFF) return MMIOERR_CANNOTSEEK;
    pFile->dwPos = (DWORD)ullEnd;
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI mmioCreateChunk(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuCreate)
{
    MMIOFILE *pFile = FromHandle(hmmio);
    if (!pFile || !pmmcki) return MMIOERR_CANNOTWRITE;
    if (fuCreate & MMIO_CREATERIFF) pmmcki->ckid = FOURCC_RIFF;
    if (fuCreate & MMIO_CREATELIST) pmmcki->ckid = FOURCC_LIST;
    DWORD adwHeader[3] = {pmmcki->ckid, pmmcki->cksize, pmmcki->fccType};
    LONG cbHeader = (fuCreate & (MMIO_CREATERIFF | MMIO_CREATELIST)) ? 12 : 8;
    pmmcki->dwDataOffset = pFile->dwPos + 8;
    if (mmioWrite(hmmio, reinterpret_cast<const char *>(adwHeader), cbHeader) != cbHeader)
        return MMIOERR_CANNOTWRITE;
    pmmcki->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// The AVI stream library is not there.

extern "C" void WINAPI AVIFileInit(void) {}
extern "C" void WINAPI AVIFileExit(void) {}

extern "C" HRESULT WINAPI AVIStreamOpenFromFileA(PAVISTREAM *ppavi, LPCSTR, DWORD, LONG, UINT, CLSID *)
{
    if (ppavi) *ppavi = NULL;
    return AVIERR_UNSUPPORTED;
}

extern "C" PGETFRAME WINAPI AVIStreamGetFrameOpen(PAVISTREAM, LPBITMAPINFOHEADER) { return NULL; }
extern "C" LPVOID WINAPI AVIStreamGetFrame(PGETFRAME, LONG) { return NULL; }
extern "C" HRESULT WINAPI AVIStreamGetFrameClose(PGETFRAME) { return 0; }
extern "C" ULONG WINAPI AVIStreamRelease(PAVISTREAM) { return 0; }
