// Compression through reference files.
//
// While reference writing is on, the wrapped codec compresses each frame into
// the host's output buffer 292 bytes from its start; Spoolcap puts the frame
// header in front of the data, appends the header, data and padding to the
// sequence's reference file (directly or through its writer) and hands the
// host a 276-byte reference record in their place:
//
//   offset 0    REFRECORD (written last, only when the frame was stored)
//   offset 276  REFFRAMEHEADER
//   offset 292  compressed data, then the padding, as they go to the file
#include "codec/spoolcap.h"

#include <string.h>

namespace {

// Opens the next file of a sequence for writing; the sequence's writer is
// idle.
BOOL OpenWriteFile(CODECINSTANCE *pInst, int iSeq)
{
    if (pInst->hWriteFile[iSeq] != INVALID_HANDLE_VALUE) CloseWriteFile(pInst, iSeq, FALSE);
    LPCSTR pszBase = iSeq ? g_Settings.szBaseFile2 : g_Settings.szBaseFile;
    HANDLE hFile = CreateNextRefFile(pszBase, pInst->szWriteName[iSeq]);
    if (hFile == INVALID_HANDLE_VALUE) return FALSE;
    // Its identity, by which it is deleted if it receives no frame.
    if (!FileIdOfHandle(hFile, &pInst->idWriteFile[iSeq])) memset(&pInst->idWriteFile[iSeq], 0, sizeof(FILEID));
    pInst->hWriteFile[iSeq] = hFile;
    pInst->dwWriteOffset[iSeq] = 0;
    return TRUE;
}

BOOL WriteAll(HANDLE hFile, const void *pData, DWORD cb)
{
    DWORD cbDone = 0;
    return WriteFile(hFile, pData, cb, &cbDone, NULL) && cbDone == cb;
}

// Padding, as zeros.
BOOL WriteZeros(HANDLE hFile, DWORD cb)
{
    static const BYTE s_abZeros[4096] = {0};
    while (cb) {
        DWORD cbPart = cb < sizeof(s_abZeros) ? cb : (DWORD)sizeof(s_abZeros);
        if (!WriteAll(hFile, s_abZeros, cbPart)) return FALSE;
        cb -= cbPart;
    }
    return TRUE;
}

// Hands the frame to the sequence's writer: TRUE when it took it, FALSE when
// the writer cannot be had (the frame is then written directly). pFrame is
// the header, data and padding as they lie in the output buffer; a raw
// frame's data comes from pRawInput instead.
BOOL WriteInBackground(CODECINSTANCE *pInst, int iSeq, const REFFRAMEHEADER &header, const BYTE *pFrame,
                       const void *pRawInput)
{
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
    if (!PrepareWorker(pInst, pWriter, header.dwFrameSize)) return FALSE;
    // The frame is copied, so that the host may reuse its buffers at once.
    if (pRawInput) {
        memcpy(pWriter->pBuffer, &header, sizeof(header));
        memcpy(pWriter->pBuffer + sizeof(header), pRawInput, header.dwDataSize);
    } else {
        // The padding is zeros, not what the host's buffer held behind the
        // data: the same frames give the same file in any host and build.
        memcpy(pWriter->pBuffer, pFrame, sizeof(header) + header.dwDataSize);
        memset(pWriter->pBuffer + sizeof(header) + header.dwDataSize, 0, header.dwPadSize);
    }
    // Readers of the file wait for the write from here on; the writer's
    // thread withdraws it when it is done.
    BeginRefWrite(pWriter, pInst->szWriteName[iSeq], pInst->dwWriteOffset[iSeq]);
    pWriter->fQueueJob = FALSE;
    HandOverWorker(pWriter);
    return TRUE;
}

// Copies the frame into the sequence's queue (QUEUE_*), as
// WriteInBackground copies it into the writer's buffer.
int WriteThroughQueue(CODECINSTANCE *pInst, int iSeq, ULONGLONG cbLimit, const REFFRAMEHEADER &header,
                      const BYTE *pFrame, const void *pRawInput)
{
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
    QUEUEDFRAME *pQueued = NULL;
    int nResult = QueueFrameBuffer(pInst, pWriter, header.dwFrameSize, cbLimit, &pQueued);
    if (nResult != QUEUE_OK) return nResult;
    BYTE *pb = QueuedBytes(pQueued);
    pQueued->cb = header.dwFrameSize;
    if (pRawInput) {
        memcpy(pb, &header, sizeof(header));
        memcpy(pb + sizeof(header), pRawInput, header.dwDataSize);
    } else {
        memcpy(pb, pFrame, sizeof(header) + header.dwDataSize);
        memset(pb + sizeof(header) + header.dwDataSize, 0, header.dwPadSize);
    }
    return QueueFrame(pWriter, pQueued, pInst->szWriteName[iSeq], pInst->dwWriteOffset[iSeq]);
}

// A write of the sequence failed: its file ends in a broken frame, and
// nothing more goes behind it, even when background writing has been turned
// off since. Until a frame is written again, frames are written directly,
// so that no record is returned for a frame that the disk does not take.
LRESULT ReportWriteFailure(CODECINSTANCE *pInst, int iSeq)
{
    CloseWriteFile(pInst, iSeq, TRUE);
    ClearWriterFailure(&pInst->aWorker[WORKER_WRITE0 + iSeq]);
    pInst->fWriteDirect[iSeq] = TRUE;
    return ICERR_ERROR;
}

// Writes the frame on the caller's thread, once the sequence's writer is idle.
BOOL WriteDirectly(CODECINSTANCE *pInst, int iSeq, const REFFRAMEHEADER &header, const BYTE *pFrame,
                   const void *pRawInput)
{
    HANDLE hFile = pInst->hWriteFile[iSeq];
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
    BeginRefWrite(pWriter, pInst->szWriteName[iSeq], pInst->dwWriteOffset[iSeq]);
    BOOL fOk = pRawInput ? WriteAll(hFile, pFrame, sizeof(header)) && WriteAll(hFile, pRawInput, header.dwDataSize)
                         : WriteAll(hFile, pFrame, sizeof(header) + header.dwDataSize) && WriteZeros(hFile, header.dwPadSize);
    EndRefWrite(pWriter);
    return fOk;
}

// Ordinary compression into the host's buffer, without a reference.
LRESULT CompressWithoutReference(DWORD_PTR dwDriverId, HDRVR hDriver, ICCOMPRESS *pic, LPARAM cbic)
{
    if (pic) pic->dwFlags &= ~ICCOMPRESS_NOREF;
    return CallWrapped(dwDriverId, hDriver, ICM_COMPRESS, (LPARAM)pic, cbic);
}

// FALSE when the host sized its buffer while reference writing was off: the
// record, the header and the codec's data laid out behind them would not fit.
BOOL OutputHasRoomForLayout(const CODECINSTANCE *pInst, BOOL fRaw)
{
    if (pInst == NULL || pInst->dwOutputRoom == 0) return TRUE;
    ULONGLONG cbNeeded = OUTPUT_DATA_OFFSET + (fRaw ? 0 : (ULONGLONG)pInst->dwCodecRoom);
    return cbNeeded <= pInst->dwOutputRoom;
}

}  // namespace

LRESULT CompressGetSize(DWORD_PTR dwDriverId, HDRVR hDriver, LPARAM lParam1, LPARAM lParam2)
{
    LRESULT lSize = CallWrapped(dwDriverId, hDriver, ICM_COMPRESS_GET_SIZE, lParam1, lParam2);
    CODECINSTANCE *pInst = FindInstance(dwDriverId);
    // The size is a DWORD: an error code of a 64-bit codec may come back
    // without its sign extended.
    if ((LONG)(DWORD)lSize <= 0) {
        if (pInst) pInst->dwOutputRoom = pInst->dwCodecRoom = 0;
        return lSize;
    }
    ULONGLONG cbCodec = (DWORD)lSize;
    ULONGLONG cbRoom = cbCodec;
    if (g_Settings.fEnabled) {
        // Room for the record, the header and the largest padding that the
        // current Padding gives a frame of at most that size.
        ULONGLONG cbProduct = cbCodec * g_Settings.dwPadding;
        if (cbProduct > 0xFFFFFFFFull) cbProduct = 0xFFFFFFFFull;
        cbRoom = OUTPUT_DATA_OFFSET + cbCodec + cbProduct / 100 + 16;
        if (cbRoom > 0x7FFFFFFFull) cbRoom = 0x7FFFFFFFull;
        lSize = (LRESULT)cbRoom;
    }
    // The host sizes its output buffer from this answer: remember it, and
    // how much of it the wrapped codec may fill.
    if (pInst) {
        pInst->dwOutputRoom = (DWORD)(cbRoom > 0x7FFFFFFFull ? 0x7FFFFFFFull : cbRoom);
        pInst->dwCodecRoom = (DWORD)(cbCodec > 0xFFFFFFFFull ? 0xFFFFFFFFull : cbCodec);
    }
    return lSize;
}

LRESULT CompressFrame(DWORD_PTR dwDriverId, HDRVR hDriver, ICCOMPRESS *pic, LPARAM cbic)
{
    if (pic == NULL || !g_Settings.fEnabled || (pic->dwFlags & ICCOMPRESS_NOREF))
        return CompressWithoutReference(dwDriverId, hDriver, pic, cbic);
    BITMAPINFOHEADER *pbiIn = pic->lpbiInput;
    BITMAPINFOHEADER *pbiOut = pic->lpbiOutput;
    BYTE *pOutput = static_cast<BYTE *>(pic->lpOutput);

    // Uncompressed input goes to the file as it is when NoCompress is on;
    // input whose size cannot be told (a compressed DIB without its
    // biSizeImage) is left to the wrapped codec rather than stored empty.
    DWORD cbData = DibImageSize(pbiIn);
    BOOL fRaw = g_Settings.fNoCompress && pbiIn->biCompression <= BI_BITFIELDS && cbData != 0;
    // Reference writing turned on after the host sized its buffer: this
    // frame is stored in the AVI as it is, rather than written past the
    // buffer. The host's next size request makes room for references.
    CODECINSTANCE *pInst = FindInstance(dwDriverId);
    if (!OutputHasRoomForLayout(pInst, fRaw)) return CompressWithoutReference(dwDriverId, hDriver, pic, cbic);
    LRESULT lResult;
    if (fRaw) {
        pbiOut->biSizeImage = cbData;
        lResult = ICERR_OK;
    } else {
        LPVOID pHostOutput = pic->lpOutput;
        pic->lpOutput = pOutput + OUTPUT_DATA_OFFSET;
        lResult = CallWrapped(dwDriverId, hDriver, ICM_COMPRESS, (LPARAM)pic, cbic);
        pic->lpOutput = pHostOutput;
        cbData = pbiOut->biSizeImage;
    }
    if (lResult != ICERR_OK) return lResult;
    if (!pInst) return ICERR_BADHANDLE;
    // Without alternation every frame goes to the first sequence.
    int iSeq = g_Settings.fBiFiled ? pInst->iWriteSeq : 0;

    DWORD cbPad = 0;
    if (!fRaw) {
        cbPad = ComputePadding(cbData, g_Settings.dwPadding);
        DWORD dwRoom = pInst->dwOutputRoom;
        if (dwRoom) {
            // The host sized its buffer from our answer to ICM_COMPRESS_GET_SIZE:
            // nothing is read beyond it. A Padding raised since then leaves
            // only the rounding to 16 bytes; a frame that has no room even
            // for that (a codec that wrote more than it announced) is stored
            // in the AVI as it is.
            if ((ULONGLONG)OUTPUT_DATA_OFFSET + cbData > dwRoom) return ICERR_ERROR;
            if ((ULONGLONG)OUTPUT_DATA_OFFSET + cbData + cbPad > dwRoom) cbPad = (16 - cbData % 16) % 16;
            if ((ULONGLONG)OUTPUT_DATA_OFFSET + cbData + cbPad > dwRoom) {
                memmove(pOutput, pOutput + OUTPUT_DATA_OFFSET, cbData);
                return ICERR_OK;
            }
        }
    }
    REFFRAMEHEADER header;
    if (!FillFrameHeader(&header, cbData, cbPad, pbiIn->biWidth, pbiIn->biHeight)) return ICERR_ERROR;
    BYTE *pFrame = pOutput + OUTPUT_HEADER_OFFSET;
    memcpy(pFrame, &header, sizeof(header));

    // With a write queue the host goes on while earlier frames are written,
    // and waits only for room in the queue. Else the previous frame's write
    // must be over before its outcome is known. Either way the writes are
    // over before the file is closed at the size limit below.
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
    BOOL fBackground = g_Settings.fOverlapWrite && !pInst->fWriteDirect[iSeq];
    const DWORD dwMaxMB = sizeof(void *) == 4 ? WRITEQUEUE_MAX_MB_32BIT : WRITEQUEUE_MAX_MB;
    DWORD dwQueueMB = g_Settings.dwWriteQueueMB < dwMaxMB ? g_Settings.dwWriteQueueMB : dwMaxMB;
    ULONGLONG cbQueue = fBackground ? (ULONGLONG)dwQueueMB << 20 : 0;
    BOOL fNewFile = pInst->hWriteFile[iSeq] == INVALID_HANDLE_VALUE ||
                    pInst->dwWriteOffset[iSeq] + header.dwFrameSize > REFFILE_MAXSIZE;
    if (!cbQueue || fNewFile || !pWriter->fQueueJob || QueueFailed(pWriter)) WaitWorkerIdle(pWriter);
    if (pWriter->nState.load() == WORKER_FAILED) return ReportWriteFailure(pInst, iSeq);
    // A frame that would carry the file past its limit goes to a new file.
    if (pInst->dwWriteOffset[iSeq] + header.dwFrameSize > REFFILE_MAXSIZE) CloseWriteFile(pInst, iSeq, FALSE);
    if (pInst->hWriteFile[iSeq] == INVALID_HANDLE_VALUE && !OpenWriteFile(pInst, iSeq)) return ICERR_ERROR;

    const void *pRawInput = fRaw ? pic->lpInput : NULL;
    BOOL fStored = FALSE;
    if (cbQueue) {
        int nQueued = WriteThroughQueue(pInst, iSeq, cbQueue, header, pFrame, pRawInput);
        if (nQueued == QUEUE_FAILED) return ReportWriteFailure(pInst, iSeq);
        fStored = nQueued == QUEUE_OK;
        // Written directly, the frame goes behind the queued ones.
        if (!fStored) {
            WaitWorkerIdle(pWriter);
            if (pWriter->nState.load() == WORKER_FAILED) return ReportWriteFailure(pInst, iSeq);
        }
    } else if (fBackground) {
        fStored = WriteInBackground(pInst, iSeq, header, pFrame, pRawInput);
    }
    if (!fStored) {
        if (!WriteDirectly(pInst, iSeq, header, pFrame, pRawInput)) {
            CloseWriteFile(pInst, iSeq, TRUE);
            pInst->fWriteDirect[iSeq] = TRUE;
            return ICERR_ERROR;
        }
        pInst->fWriteDirect[iSeq] = FALSE;
    }

    REFRECORD record;
    BuildRefRecord(&record, iSeq, fRaw, pInst->dwWriteOffset[iSeq], header.dwFrameSize, pInst->szWriteName[iSeq]);
    memcpy(pOutput, &record, sizeof(record));
    pbiOut->biSizeImage = sizeof(REFRECORD);
    pInst->dwWriteOffset[iSeq] += header.dwFrameSize;
    if (g_Settings.fBiFiled) pInst->iWriteSeq = pInst->iWriteSeq ? 0 : 1;
    return ICERR_OK;
}
