#include "tests/avibuilder.h"

#include "tests/dibheader.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

FOURCC Fcc(const std::string &s)
{
    char sz[4] = {' ', ' ', ' ', ' '};
    for (size_t i = 0; i < 4 && i < s.size(); i++) sz[i] = s[i];
    return mmioFOURCC(sz[0], sz[1], sz[2], sz[3]);
}

struct RIFFOUT {
    std::vector<BYTE> bytes;
    std::vector<size_t> open;
    void Dword(DWORD dw)
    {
        for (int i = 0; i < 4; i++) bytes.push_back((BYTE)(dw >> (8 * i)));
    }
    void Bytes(const void *p, size_t n)
    {
        const BYTE *pb = static_cast<const BYTE *>(p);
        bytes.insert(bytes.end(), pb, pb + n);
    }
    void Begin(const std::string &id, const std::string &type)
    {
        Dword(Fcc(id));
        open.push_back(bytes.size());
        Dword(0);
        Dword(Fcc(type));
    }
    void End()
    {
        size_t at = open.back();
        open.pop_back();
        DWORD cb = (DWORD)(bytes.size() - at - 4);
        memcpy(&bytes[at], &cb, 4);
        if (cb & 1) bytes.push_back(0);
    }
    void Chunk(const std::string &id, const std::vector<BYTE> &data)
    {
        Dword(Fcc(id));
        Dword((DWORD)data.size());
        Bytes(data.data(), data.size());
        if (data.size() & 1) bytes.push_back(0);
    }
};

std::vector<BYTE> StreamHeader(const std::string &type, FOURCC fccHandler, DWORD dwLength, DWORD cbExtra)
{
    std::vector<BYTE> strh(56 + cbExtra, 0);
    DWORD dwType = Fcc(type);
    memcpy(&strh[0], &dwType, 4);
    memcpy(&strh[4], &fccHandler, 4);
    DWORD dwScale = 1, dwRate = 15;
    memcpy(&strh[20], &dwScale, 4);
    memcpy(&strh[24], &dwRate, 4);
    memcpy(&strh[32], &dwLength, 4);
    return strh;
}

}  // namespace

std::vector<BYTE> MakeFormat(LONG lWidth, LONG lHeight, WORD wBits, DWORD dwCompression, const std::vector<BYTE> &extra,
                             DWORD cbImage)
{
    BITMAPINFOHEADER bih = MakeDibHeader(lWidth, lHeight, wBits, dwCompression, cbImage);
    std::vector<BYTE> format(sizeof(bih) + extra.size());
    memcpy(format.data(), &bih, sizeof(bih));
    if (!extra.empty()) memcpy(format.data() + sizeof(bih), extra.data(), extra.size());
    return format;
}

AVIFRAME Frame(const std::string &id, const std::vector<BYTE> &data, DWORD dwFlags)
{
    AVIFRAME frame;
    frame.id = id;
    frame.data = data;
    frame.dwIndexFlags = dwFlags;
    frame.fIndexed = true;
    frame.fInRecList = false;
    return frame;
}

std::vector<BYTE> BuildAvi(const AVISPEC &spec, std::vector<DWORD> *pChunkPositions)
{
    RIFFOUT out;
    // OpenDML: the chunks of each RIFF, at least one each.
    std::vector<std::pair<size_t, size_t>> groups(1, std::make_pair((size_t)0, spec.chunks.size()));
    if (spec.cbRiffLimit) {
        groups.clear();
        size_t first = 0, cb = 0;
        for (size_t i = 0; i < spec.chunks.size(); i++) {
            size_t cbChunk = 8 + spec.chunks[i].data.size() + (spec.chunks[i].data.size() & 1);
            if (i > first && cb + cbChunk > spec.cbRiffLimit) {
                groups.push_back(std::make_pair(first, i));
                first = i;
                cb = 0;
            }
            cb += cbChunk;
        }
        groups.push_back(std::make_pair(first, spec.chunks.size()));
    }
    const std::string videoDigits = spec.fAudioStream && spec.fAudioFirst ? "01" : "00";
    size_t superAt = 0;
    std::vector<BYTE> superEntries;
    // A standard index of the video chunks of movi, closing it.
    auto StandardIndex = [&](size_t moviList, const std::pair<size_t, size_t> &group,
                             const std::vector<DWORD> &at) {
        std::vector<BYTE> ix(24, 0);
        DWORD n = 0;
        FOURCC dwId = 0;
        for (size_t i = group.first; i < group.second; i++) {
            const AVIFRAME &frame = spec.chunks[i];
            if (frame.id.compare(0, 2, videoDigits) != 0 || frame.id[2] != 'd') continue;
            if (!dwId) dwId = Fcc(frame.id);
            DWORD adw[2] = {(DWORD)(at[i] + 8 - moviList),
                            (DWORD)frame.data.size() | ((frame.dwIndexFlags & AVIIF_KEYFRAME) ? 0 : 0x80000000u)};
            const BYTE *pb = reinterpret_cast<const BYTE *>(adw);
            ix.insert(ix.end(), pb, pb + 8);
            n++;
        }
        WORD wLongs = 2;
        ix[3] = 1;  // an index of chunks
        memcpy(&ix[0], &wLongs, 2);
        memcpy(&ix[4], &n, 4);
        memcpy(&ix[8], &dwId, 4);
        ULONGLONG qwBase = moviList;
        memcpy(&ix[12], &qwBase, 8);
        ULONGLONG qwAt = out.bytes.size();
        DWORD adwSuper[4] = {(DWORD)qwAt, (DWORD)(qwAt >> 32), (DWORD)(8 + ix.size()), n};
        const BYTE *pb = reinterpret_cast<const BYTE *>(adwSuper);
        superEntries.insert(superEntries.end(), pb, pb + 16);
        out.Chunk("ix" + videoDigits, ix);
        (void)dwId;
    };
    out.Begin("RIFF", "AVI ");
    if (spec.fHdrl) {
        out.Begin("LIST", "hdrl");
        if (spec.fAvih) {
            std::vector<BYTE> avih(56, 0);
            DWORD dwMicroSec = 66666, dwFlags = 0x10 /* has an index */;
            DWORD dwStreams = (spec.fVideoStream ? 1 : 0) + (spec.fAudioStream ? 1 : 0);
            memcpy(&avih[0], &dwMicroSec, 4);
            memcpy(&avih[12], &dwFlags, 4);
            memcpy(&avih[16], &spec.dwTotalFrames, 4);
            memcpy(&avih[24], &dwStreams, 4);
            if (spec.format.size() >= 12) {
                memcpy(&avih[32], &spec.format[4], 4);
                memcpy(&avih[36], &spec.format[8], 4);
            }
            out.Chunk("avih", avih);
        }
        auto VideoList = [&]() {
            out.Begin("LIST", "strl");
            out.Chunk("strh", StreamHeader("vids", spec.fccHandler, spec.dwLength, spec.cbStrhExtra));
            if (!spec.format.empty()) out.Chunk("strf", spec.format);
            if (spec.cbRiffLimit) {
                superAt = out.bytes.size() + 8;
                out.Chunk("indx", std::vector<BYTE>(24 + 16 * groups.size(), 0));
            }
            out.End();
        };
        auto AudioList = [&]() {
            out.Begin("LIST", "strl");
            out.Chunk("strh", StreamHeader("auds", 1, 0, 0));
            std::vector<BYTE> wave(16, 0);
            wave[0] = 1;
            out.Chunk("strf", wave);
            out.End();
        };
        if (spec.fAudioStream && spec.fAudioFirst) AudioList();
        if (spec.fVideoStream) VideoList();
        if (spec.fAudioStream && !spec.fAudioFirst) AudioList();
        if (spec.cbRiffLimit) {
            out.Begin("LIST", "odml");
            std::vector<BYTE> dmlh(248, 0);
            DWORD nFrames = 0;
            for (const AVIFRAME &frame : spec.chunks) nFrames += frame.id.compare(0, 2, videoDigits) == 0 && frame.id[2] == 'd';
            memcpy(&dmlh[0], &nFrames, 4);
            out.Chunk("dmlh", dmlh);
            out.End();
        }
        out.End();
    }
    out.Chunk("JUNK", std::vector<BYTE>(12, 0));
    std::vector<DWORD> positions;
    std::vector<std::pair<DWORD, DWORD>> lists;  // each "rec " list's place and size
    std::vector<size_t> listStarts;              // the chunk each begins with
    size_t moviData = 0;
    if (spec.fMovi) {
        out.Begin("LIST", "movi");
        moviData = out.bytes.size() - 4;  // the "movi" type, where relative offsets start
        bool fInRec = false;
        for (size_t iChunk = 0; iChunk < groups[0].second; iChunk++) {
            const AVIFRAME &frame = spec.chunks[iChunk];
            if (fInRec && (!frame.fInRecList || frame.fRecListStart)) {
                lists.back().second = (DWORD)(out.bytes.size() - lists.back().first - 8);
                out.End();
                fInRec = false;
            }
            if (frame.fInRecList && !fInRec) {
                lists.push_back(std::make_pair((DWORD)out.bytes.size(), 0u));
                listStarts.push_back(positions.size());
                out.Begin("LIST", "rec ");
                fInRec = true;
            }
            positions.push_back((DWORD)out.bytes.size());
            out.Chunk(frame.id, frame.data);
        }
        if (fInRec) {
            lists.back().second = (DWORD)(out.bytes.size() - lists.back().first - 8);
            out.End();
        }
        if (spec.cbRiffLimit) StandardIndex(moviData - 8, groups[0], positions);
        out.End();
    }
    if (spec.fIdx1) {
        // Entries: (stream digits, the entry's 16 bytes), in the order of the
        // chunks, each "rec " list first when the lists are listed too.
        std::vector<std::pair<std::string, std::vector<BYTE>>> entries;
        auto Entry = [&](const std::string &id, DWORD dwFlags, DWORD dwPos, DWORD cb) {
            DWORD adw[4] = {Fcc(id), dwFlags, spec.fAbsoluteIndex ? dwPos : (DWORD)(dwPos - moviData), cb};
            const BYTE *pb = reinterpret_cast<const BYTE *>(adw);
            entries.push_back(std::make_pair(id.substr(0, 2), std::vector<BYTE>(pb, pb + 16)));
        };
        size_t iList = 0;
        for (size_t i = 0; i < groups[0].second; i++) {
            const AVIFRAME &frame = spec.chunks[i];
            if (spec.fIndexRecLists && iList < listStarts.size() && listStarts[iList] == i) {
                Entry("rec ", 0x1 /* AVIIF_LIST */, lists[iList].first, lists[iList].second);
                iList++;
            }
            if (!frame.fIndexed) continue;
            Entry(frame.id, frame.dwIndexFlags, i < positions.size() ? positions[i] : 0, (DWORD)frame.data.size());
        }
        if (spec.fIndexByStream) {
            std::stable_sort(entries.begin(), entries.end(),
                             [](const std::pair<std::string, std::vector<BYTE>> &a,
                                const std::pair<std::string, std::vector<BYTE>> &b) { return a.first < b.first; });
        }
        std::vector<BYTE> idx;
        for (const auto &entry : entries) idx.insert(idx.end(), entry.second.begin(), entry.second.end());
        for (const std::vector<BYTE> &entry : spec.extraIndex) idx.insert(idx.end(), entry.begin(), entry.end());
        out.Chunk("idx1", idx);
    }
    out.Bytes(spec.afterIdx1.data(), spec.afterIdx1.size());
    out.End();
    // The further RIFFs of OpenDML, each a movi list closed by its index.
    for (size_t g = 1; g < groups.size(); g++) {
        out.Begin("RIFF", "AVIX");
        size_t moviList = out.bytes.size();
        out.Begin("LIST", "movi");
        positions.resize(spec.chunks.size());
        for (size_t i = groups[g].first; i < groups[g].second; i++) {
            positions[i] = (DWORD)out.bytes.size();
            out.Chunk(spec.chunks[i].id, spec.chunks[i].data);
        }
        if (!spec.fStdIndexAfterMovi) StandardIndex(moviList, groups[g], positions);
        out.End();
        if (spec.fStdIndexAfterMovi) StandardIndex(moviList, groups[g], positions);
        out.End();
    }
    if (spec.cbRiffLimit && superAt) {
        std::vector<BYTE> header(24, 0);
        WORD wLongs = 4;
        DWORD n = (DWORD)groups.size(), dwId = Fcc(videoDigits + "dc");
        memcpy(&header[0], &wLongs, 2);
        memcpy(&header[4], &n, 4);
        memcpy(&header[8], &dwId, 4);
        memcpy(&out.bytes[superAt], header.data(), 24);
        memcpy(&out.bytes[superAt + 24], superEntries.data(), superEntries.size());
    }
    if (pChunkPositions) *pChunkPositions = positions;
    return out.bytes;
}

bool WriteAviWithFiller(const std::string &path, std::vector<BYTE> bytes, unsigned long long cbFiller, int nFillers)
{
    size_t second = 0;
    for (size_t at = 12; at + 12 <= bytes.size() && !second; at++)
        if (memcmp(&bytes[at], "RIFF", 4) == 0 && memcmp(&bytes[at + 8], "AVIX", 4) == 0) second = at;
    if (!second) return false;
    unsigned long long ullDelta = nFillers * (8 + cbFiller);
    // The standard indexes past the fillers count from their own places.
    for (size_t at = second; at + 8 + 24 <= bytes.size(); at++) {
        // "ixNN" with a standard index's header.
        if (memcmp(&bytes[at], "ix", 2) != 0 || !isdigit(bytes[at + 2]) || !isdigit(bytes[at + 3]) ||
            bytes[at + 8] != 2 || bytes[at + 8 + 3] != 1)
            continue;
        unsigned long long ullBase;
        memcpy(&ullBase, &bytes[at + 8 + 12], 8);
        ullBase += ullDelta;
        memcpy(&bytes[at + 8 + 12], &ullBase, 8);
    }
    // Super index entries that name a standard index past them.
    for (size_t at = 0; at + 8 + 24 <= second; at++) {
        if (memcmp(&bytes[at], "indx", 4) != 0) continue;
        DWORD nEntries;
        memcpy(&nEntries, &bytes[at + 8 + 4], 4);
        for (DWORD k = 0; k < nEntries && at + 8 + 24 + 16 * (k + 1) <= bytes.size(); k++) {
            unsigned long long ullAt;
            memcpy(&ullAt, &bytes[at + 8 + 24 + 16 * k], 8);
            if (ullAt < second) continue;
            ullAt += ullDelta;
            memcpy(&bytes[at + 8 + 24 + 16 * k], &ullAt, 8);
        }
    }
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return false;
    bool fWritten = fwrite(bytes.data(), 1, second, pFile) == second;
    for (int k = 0; k < nFillers && fWritten; k++) {
        DWORD adw[2] = {mmioFOURCC('J', 'U', 'N', 'K'), (DWORD)cbFiller};
        fWritten = fwrite(adw, 1, 8, pFile) == 8 && fseeko(pFile, (off_t)cbFiller, SEEK_CUR) == 0;
    }
    fWritten = fWritten && fwrite(bytes.data() + second, 1, bytes.size() - second, pFile) == bytes.size() - second;
    return fclose(pFile) == 0 && fWritten;
}

DWORD AppendIndexBomb(std::vector<BYTE> *pBytes, DWORD nEntries)
{
    std::vector<BYTE> &bytes = *pBytes;
    size_t at = bytes.size();
    std::vector<BYTE> index(8 + 24 + 8 * (size_t)nEntries, 0);
    DWORD cbIndex = (DWORD)index.size() - 8;
    memcpy(&index[0], "ix00", 4);
    memcpy(&index[4], &cbIndex, 4);
    index[8] = 2;   // longs per entry
    index[11] = 1;  // a standard index
    memcpy(&index[12], &nEntries, 4);
    memcpy(&index[16], "00db", 4);
    size_t indx = 0;
    for (size_t i = 0; i + 4 <= bytes.size() && !indx; i++)
        if (memcmp(&bytes[i], "indx", 4) == 0) indx = i;
    if (!indx) return 0;
    bytes.insert(bytes.end(), index.begin(), index.end());
    DWORD nSuper = 0;
    memcpy(&nSuper, &bytes[indx + 8 + 4], 4);
    for (DWORD k = 0; k < nSuper; k++) {
        DWORD adw[4] = {(DWORD)at, 0, cbIndex + 8, nEntries};
        memcpy(&bytes[indx + 8 + 24 + 16 * (size_t)k], adw, sizeof(adw));
    }
    return nSuper;
}
