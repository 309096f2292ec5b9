// Spoolcap on a disk slower than the machine: the POSIX stand-in's
// simulated disk, with a bandwidth and a latency per transfer. Shows what
// the background writers and the read-ahead are for, each against a
// baseline measured in the same run:
//
//   capture/codec      the wrapped codec alone, one frame per frame period
//   capture/overlap    Spoolcap with background writes, the disk's bandwidth
//                      a quarter above the stream's rate
//   capture/direct     the same with direct writes
//   play/decode        the wrapped codec decoding the clip's frames alone
//   play/read          plain reads of the frames' bytes from the disk, the
//                      bandwidth chosen so that a read takes about as long
//                      as a decode
//   play/overlap       playback through Spoolcap with read-ahead
//   play/direct        playback without read-ahead
//   wait/overlap       raw frames written in the background to a disk at
//                      half the stream's rate: the host's thread mostly
//                      waits; its processor time is measured against the
//                      wall time
//
// The capture benchmarks time only the host's ICM_COMPRESS calls; the host
// then idles until the next frame is due, as a capture program does.
//
// Then a capture against a disk that stalls: the same disk (a quarter above
// the stream's rate), stopping for SPOOL_BENCH_STALL ("MS/EVERY_MS", 300 ms
// every 2 s by default; "0/1" never stops; "none" leaves the study out) while a host takes a frame
// every 1/60 s (or every three codec times, when the codec is slower) for
// SPOOL_BENCH_SECONDS (10). Per mode, over SPOOL_BENCH_RUNS (5) interleaved
// runs, min, median and max of: the frame periods lost (frames the host
// could not take because a call returned after they came due), the late
// calls, and the 50th and 99th percentiles and the longest call; the 99th
// percentile also against the codec alone's in the same run. Modes: the
// codec alone, direct writes, OverlapWrite with one frame in flight, and
// write queues of 64 and 256 MB, each but the first with and without
// BiFiled.
#include "codec/spoolcap.h"

#include "bench/ratio.h"
#include "tests/dibheader.h"
#include "tests/samplecodec/samplecodec.h"

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

std::string g_dir;
// The picture size, 1920x1080 unless SPOOL_BENCH_SIZE says otherwise (WxH).
LONG WIDTH = 1920, HEIGHT = 1080;
const int PICTURES = 6;
const unsigned long LATENCY_US = 200;

// The measured facts the disk is set from.
double g_dCodecSeconds;      // the wrapped codec's time per frame
double g_dDecodeSeconds;     // its time per decode
double g_dCompressedBytes;   // bytes a frame takes in a reference file
double g_dFramePeriod;       // seconds between frames while capturing
double g_dHostCpuShare = -1;  // processor share of the host's thread in wait/overlap
double g_dStallPeriod;        // seconds between frames in the stall study

struct PICTURE {
    BITMAPINFOHEADER bih;
    std::vector<BYTE> bits;
};

// A camera-like picture: smooth bands with a noisy strip, so that the codec
// has work to do and the frames differ in size.
const std::vector<PICTURE> &Pictures()
{
    static std::vector<PICTURE> s_list;
    if (s_list.empty()) {
        for (int n = 0; n < PICTURES; n++) {
            PICTURE pic;
            DWORD cbStride = DibStride(WIDTH, 24);
            pic.bih = MakeDibHeader(WIDTH, HEIGHT, 24, BI_RGB, cbStride * HEIGHT);
            pic.bits.resize(pic.bih.biSizeImage);
            uint32_t r = 99u + (uint32_t)n;
            for (DWORD y = 0; y < (DWORD)HEIGHT; y++)
                for (DWORD x = 0; x < cbStride; x++) {
                    r = r * 1664525u + 1013904223u;
                    BYTE b = (BYTE)((x / 48 + y / 24 + (DWORD)n) * 17);
                    if (y % 90 < 12 + (DWORD)n) b = (BYTE)(r >> 24);
                    pic.bits[y * cbStride + x] = b;
                }
            s_list.push_back(pic);
        }
    }
    return s_list;
}

double Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

double ThreadCpu()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

void SleepUntil(double dWhen)
{
    double dLeft = dWhen - Now();
    if (dLeft <= 0) return;
    struct timespec ts;
    ts.tv_sec = (time_t)dLeft;
    ts.tv_nsec = (long)((dLeft - (double)ts.tv_sec) * 1e9);
    nanosleep(&ts, NULL);
}

// The disk under the files of the benchmarks; 0 for no simulated disk.
void SetDisk(double dBytesPerSecond)
{
    if (dBytesPerSecond <= 0) {
        unsetenv("SPOOL_DISK_BANDWIDTH");
        unsetenv("SPOOL_DISK_LATENCY_US");
        return;
    }
    setenv("SPOOL_DISK_PATH", g_dir.c_str(), 1);
    setenv("SPOOL_DISK_BANDWIDTH", std::to_string((unsigned long long)dBytesPerSecond).c_str(), 1);
    setenv("SPOOL_DISK_LATENCY_US", std::to_string(LATENCY_US).c_str(), 1);
}

void ResetSettings()
{
    memset(&g_Settings, 0, sizeof(g_Settings));
    snprintf(g_Settings.szBaseFile, MAX_PATH, "%s/one", g_dir.c_str());
    snprintf(g_Settings.szBaseFile2, MAX_PATH, "%s/two", g_dir.c_str());
}

void RemoveFiles()
{
    std::string command = "rm -f '" + g_dir + "'/*";
    if (system(command.c_str()) != 0) fprintf(stderr, "cannot clean %s\n", g_dir.c_str());
}

LRESULT CALLBACK SpoolcapProc(DWORD_PTR a, HDRVR b, UINT c, LPARAM d, LPARAM e) { return DriverProc(a, b, c, d, e); }

struct SESSION {
    DRIVERPROC pfnProc;
    DWORD_PTR dwId;
    BITMAPINFOHEADER bihIn;
    BITMAPINFOHEADER bihOut;
    std::vector<BYTE> output;
};

SESSION OpenSession(DRIVERPROC pfnProc)
{
    SESSION s;
    s.pfnProc = pfnProc;
    ICOPEN icopen;
    memset(&icopen, 0, sizeof(icopen));
    icopen.dwSize = sizeof(icopen);
    icopen.fccType = ICTYPE_VIDEO;
    icopen.fccHandler = SAMPLE_FOURCC;
    s.dwId = (DWORD_PTR)DriverProc(0, NULL, DRV_OPEN, 0, (LPARAM)&icopen);
    s.bihIn = Pictures()[0].bih;
    pfnProc(s.dwId, NULL, ICM_COMPRESS_GET_FORMAT, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    LRESULT cb = pfnProc(s.dwId, NULL, ICM_COMPRESS_GET_SIZE, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    s.output.resize((size_t)cb);
    return s;
}

LRESULT CompressOne(SESSION *pSession, const PICTURE &pic)
{
    ICCOMPRESS ic;
    memset(&ic, 0, sizeof(ic));
    ic.lpbiInput = &pSession->bihIn;
    ic.lpInput = const_cast<BYTE *>(pic.bits.data());
    ic.lpbiOutput = &pSession->bihOut;
    ic.lpOutput = pSession->output.data();
    return pSession->pfnProc(pSession->dwId, NULL, ICM_COMPRESS, (LPARAM)&ic, sizeof(ic));
}

void CloseSession(SESSION *pSession)
{
    pSession->pfnProc(pSession->dwId, NULL, ICM_COMPRESS_END, 0, 0);
    DriverProc(pSession->dwId, NULL, DRV_CLOSE, 0, 0);
}

// Measures the codec's time per frame and the size of its frames, and sets
// the frame period to three codec times (at least 10 ms).
void Calibrate()
{
    ResetSettings();
    SESSION s = OpenSession(g_pfnWrappedProc);
    std::vector<double> times;
    double dBytes = 0;
    for (int i = 0; i < 3 * PICTURES; i++) {
        double t0 = Now();
        CompressOne(&s, Pictures()[(size_t)i % PICTURES]);
        times.push_back(Now() - t0);
        dBytes += s.bihOut.biSizeImage;
    }
    CloseSession(&s);
    std::sort(times.begin(), times.end());
    g_dCodecSeconds = times[times.size() / 2];
    g_dCompressedBytes = dBytes / (3 * PICTURES) + 32;
    g_dFramePeriod = std::max(3 * g_dCodecSeconds, 0.010);
}

// One frame per period; only the ICM_COMPRESS call is timed.
void BM_Capture(benchmark::State &state)
{
    ResetSettings();
    bool fSpoolcap = state.range(0) != 0;
    g_Settings.fEnabled = fSpoolcap;
    g_Settings.fOverlapWrite = state.range(0) == 2;
    // Just above the stream's rate: a quarter more.
    SetDisk(fSpoolcap ? 1.25 * g_dCompressedBytes / g_dFramePeriod : 0);
    SESSION s = OpenSession(fSpoolcap ? SpoolcapProc : g_pfnWrappedProc);
    s.pfnProc(s.dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    size_t i = 0;
    double dNext = Now();
    for (auto _ : state) {
        SleepUntil(dNext);
        double t0 = Now();
        dNext = t0 + g_dFramePeriod;
        LRESULT lResult = CompressOne(&s, Pictures()[i++ % PICTURES]);
        state.SetIterationTime(Now() - t0);
        if (lResult != ICERR_OK) {
            state.SkipWithError("compression failed");
            break;
        }
    }
    CloseSession(&s);
    SetDisk(0);
    RemoveFiles();
}

// A recorded clip and its records: a warm-up of WARM_UP frames, then the
// PLAYED frames that the playback benchmarks time, each once, in file order.
const int WARM_UP = 12, PLAYED = 48;
struct CLIP {
    std::vector<std::vector<BYTE>> records;
    std::vector<std::vector<BYTE>> frames;  // the codec's own data
    BITMAPINFOHEADER bihComp;
};

CLIP Record()
{
    CLIP clip;
    ResetSettings();
    g_Settings.fEnabled = TRUE;
    SESSION s = OpenSession(SpoolcapProc);
    SESSION plain = OpenSession(g_pfnWrappedProc);
    s.pfnProc(s.dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    for (int n = 0; n < WARM_UP + PLAYED; n++) {
        CompressOne(&s, Pictures()[(size_t)n % PICTURES]);
        clip.records.emplace_back(s.output.begin(), s.output.begin() + sizeof(REFRECORD));
        CompressOne(&plain, Pictures()[(size_t)n % PICTURES]);
        clip.frames.emplace_back(plain.output.begin(), plain.output.begin() + plain.bihOut.biSizeImage);
    }
    clip.bihComp = s.bihOut;
    CloseSession(&s);
    CloseSession(&plain);
    return clip;
}

LRESULT DecompressOne(DWORD_PTR dwId, const CLIP &clip, const std::vector<BYTE> &data, std::vector<BYTE> *pPicture)
{
    BITMAPINFOHEADER bihIn = clip.bihComp;
    bihIn.biSizeImage = (DWORD)data.size();
    BITMAPINFOHEADER bihOut = Pictures()[0].bih;
    ICDECOMPRESS id;
    memset(&id, 0, sizeof(id));
    id.lpbiInput = &bihIn;
    id.lpInput = const_cast<BYTE *>(data.data());
    id.lpbiOutput = &bihOut;
    id.lpOutput = pPicture->data();
    return DriverProc(dwId, NULL, ICM_DECOMPRESS, (LPARAM)&id, sizeof(id));
}

// The bandwidth at which a frame reads in about one decode time.
double PlayBandwidth() { return g_dCompressedBytes / g_dDecodeSeconds; }

void BM_PlayDecode(benchmark::State &state)
{
    CLIP clip = Record();
    SESSION s = OpenSession(SpoolcapProc);
    std::vector<BYTE> picture(Pictures()[0].bih.biSizeImage);
    size_t i = 0;
    for (auto _ : state) DecompressOne(s.dwId, clip, clip.frames[WARM_UP + i++ % PLAYED], &picture);
    CloseSession(&s);
    RemoveFiles();
}

// A read of each frame's header and then its data, as Spoolcap does it.
void BM_PlayRead(benchmark::State &state)
{
    CLIP clip = Record();
    SetDisk(PlayBandwidth());
    REFRECORD rec;
    memcpy(&rec, clip.records[0].data(), sizeof(rec));
    HANDLE h = CreateFileA(rec.szFileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::vector<BYTE> buffer(g_dCompressedBytes * 2);
    size_t i = 0;
    for (auto _ : state) {
        memcpy(&rec, clip.records[WARM_UP + i++ % PLAYED].data(), sizeof(rec));
        REFFRAMEHEADER header;
        DWORD cb;
        SetFilePointer(h, (LONG)rec.dwOffset, NULL, FILE_BEGIN);
        ReadFile(h, &header, sizeof(header), &cb, NULL);
        ReadFile(h, buffer.data(), std::min<DWORD>(header.dwDataSize, (DWORD)buffer.size()), &cb, NULL);
    }
    CloseHandle(h);
    SetDisk(0);
    RemoveFiles();
}

void BM_PlaySpoolcap(benchmark::State &state)
{
    CLIP clip = Record();
    SetDisk(PlayBandwidth());
    g_Settings.fOverlapRead = state.range(0) != 0;
    SESSION s = OpenSession(SpoolcapProc);
    std::vector<BYTE> picture(Pictures()[0].bih.biSizeImage);
    // The warm-up: the read buffer grows to the clip's largest frames, as it
    // does in the first moments of any playback.
    for (int n = 0; n < WARM_UP; n++) DecompressOne(s.dwId, clip, clip.records[(size_t)n], &picture);
    if (CODECINSTANCE *pInst = FindInstance(s.dwId)) pInst->cAheadHits = 0;
    size_t i = 0;
    for (auto _ : state) {
        if (DecompressOne(s.dwId, clip, clip.records[WARM_UP + i++ % PLAYED], &picture) != ICERR_OK) {
            state.SkipWithError("decompression failed");
            break;
        }
    }
    if (CODECINSTANCE *pInst = FindInstance(s.dwId))
        state.counters["ahead_hits"] = (double)pInst->cAheadHits / (double)state.iterations();
    DriverProc(s.dwId, NULL, ICM_DECOMPRESS_END, 0, 0);
    CloseSession(&s);
    SetDisk(0);
    RemoveFiles();
}

// Raw frames to a disk at half the stream's rate, back to back: the host's
// thread waits for the writer nearly all the time.
void BM_Wait(benchmark::State &state)
{
    ResetSettings();
    g_Settings.fEnabled = TRUE;
    g_Settings.fNoCompress = TRUE;
    g_Settings.fOverlapWrite = TRUE;
    double dRawBytes = Pictures()[0].bih.biSizeImage;
    SetDisk(0.5 * dRawBytes / g_dFramePeriod);
    SESSION s = OpenSession(SpoolcapProc);
    s.pfnProc(s.dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    size_t i = 0;
    double dCpu0 = ThreadCpu(), dWall0 = Now();
    for (auto _ : state) CompressOne(&s, Pictures()[i++ % PICTURES]);
    double dCpu = ThreadCpu() - dCpu0, dWall = Now() - dWall0;
    g_dHostCpuShare = dWall > 0 ? dCpu / dWall : -1;
    state.counters["host_cpu_share"] = g_dHostCpuShare;
    CloseSession(&s);
    SetDisk(0);
    RemoveFiles();
}

BENCHMARK(BM_Capture)->Name("capture/codec")->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_Capture)->Name("capture/direct")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_Capture)->Name("capture/overlap")->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);
BENCHMARK(BM_PlayDecode)->Name("play/decode")->Unit(benchmark::kMillisecond)->Iterations(PLAYED);
BENCHMARK(BM_PlayRead)->Name("play/read")->Unit(benchmark::kMillisecond)->Iterations(PLAYED);
BENCHMARK(BM_PlaySpoolcap)->Name("play/direct")->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(PLAYED);
BENCHMARK(BM_PlaySpoolcap)->Name("play/overlap")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(PLAYED);
BENCHMARK(BM_Wait)->Name("wait/overlap")->Unit(benchmark::kMillisecond)->Iterations(24);

// --- Capture against a stalling disk ------------------------------------------------

struct CAPTUREMODE {
    const char *pszName;
    bool fSpoolcap, fOverlap, fBiFiled;
    DWORD dwQueueMB;
};

struct CAPTURERUN {
    double dLost, dLate, dP50, dP99, dMax;
};

double Percentile(std::vector<double> v, double dShare)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(dShare * (double)(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// One capture of dSeconds: a frame comes due every g_dStallPeriod; a call
// that returns after the next frame came due loses the frames due by then.
// nRun spells the stall settings anew, so that each run's stalls start with
// its first file.
CAPTURERUN CaptureWithStalls(const CAPTUREMODE &mode, double dSeconds, int nRun, unsigned long msStall,
                             unsigned long msEvery)
{
    ResetSettings();
    g_Settings.fEnabled = mode.fSpoolcap;
    g_Settings.fOverlapWrite = mode.fOverlap;
    g_Settings.fBiFiled = mode.fBiFiled;
    g_Settings.dwWriteQueueMB = mode.dwQueueMB;
    if (mode.fSpoolcap) {
        SetDisk(1.25 * g_dCompressedBytes / g_dStallPeriod);
        std::string pad(nRun % 2, ' ');
        setenv("SPOOL_DISK_STALL_MS", (std::to_string(msStall) + pad).c_str(), 1);
        setenv("SPOOL_DISK_STALL_EVERY_MS", (std::to_string(msEvery) + pad).c_str(), 1);
    }
    SESSION s = OpenSession(mode.fSpoolcap ? SpoolcapProc : g_pfnWrappedProc);
    s.pfnProc(s.dwId, NULL, ICM_COMPRESS_BEGIN, (LPARAM)&s.bihIn, (LPARAM)&s.bihOut);
    std::vector<double> calls;
    CAPTURERUN run = {0, 0, 0, 0, 0};
    double dStart = Now(), dDue = dStart;
    for (size_t i = 0; dDue < dStart + dSeconds; i++) {
        SleepUntil(dDue);
        double t0 = Now();
        if (CompressOne(&s, Pictures()[i % PICTURES]) != ICERR_OK) fprintf(stderr, "%s: a frame failed\n", mode.pszName);
        double t1 = Now();
        calls.push_back(t1 - t0);
        // The frames that came due while the call ran, after this one.
        double dMissed = std::ceil((t1 - dDue) / g_dStallPeriod) - 1;
        if (dMissed > 0) {
            run.dLate++;
            run.dLost += dMissed;
        } else {
            dMissed = 0;
        }
        dDue += (dMissed + 1) * g_dStallPeriod;
    }
    CloseSession(&s);
    unsetenv("SPOOL_DISK_STALL_MS");
    unsetenv("SPOOL_DISK_STALL_EVERY_MS");
    SetDisk(0);
    RemoveFiles();
    run.dP50 = Percentile(calls, 0.50);
    run.dP99 = Percentile(calls, 0.99);
    run.dMax = Percentile(calls, 1.0);
    return run;
}

struct TRIPLE {
    double dMin, dMedian, dMax;
};

TRIPLE Spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

void StallStudy(void)
{
    const char *pszStall = getenv("SPOOL_BENCH_STALL");
    unsigned long msStall = 300, msEvery = 2000;
    if (pszStall && strcmp(pszStall, "none") == 0) return;
    if (pszStall && (sscanf(pszStall, "%lu/%lu", &msStall, &msEvery) != 2 || msEvery == 0)) {
        fprintf(stderr, "SPOOL_BENCH_STALL is MS/EVERY_MS, not %s\n", pszStall);
        return;
    }
    const char *pszSeconds = getenv("SPOOL_BENCH_SECONDS");
    const char *pszRuns = getenv("SPOOL_BENCH_RUNS");
    double dSeconds = pszSeconds ? atof(pszSeconds) : 10;
    int nRuns = pszRuns ? atoi(pszRuns) : 5;
    if (dSeconds <= 0) dSeconds = 10;
    if (nRuns < 1) nRuns = 5;
    static const CAPTUREMODE s_aModes[] = {
        {"codec alone", false, false, false, 0},
        {"direct", true, false, false, 0},          {"direct + BiFiled", true, false, true, 0},
        {"OverlapWrite", true, true, false, 0},     {"OverlapWrite + BiFiled", true, true, true, 0},
        {"queue 64 MB", true, true, false, 64},     {"queue 64 MB + BiFiled", true, true, true, 64},
        {"queue 256 MB", true, true, false, 256},   {"queue 256 MB + BiFiled", true, true, true, 256},
    };
    const size_t nModes = sizeof(s_aModes) / sizeof(s_aModes[0]);
    g_dStallPeriod = std::max(1.0 / 60, 3 * g_dCodecSeconds);
    char szStalls[64];
    if (msStall) snprintf(szStalls, sizeof(szStalls), "stalls %lu ms every %lu ms", msStall, msEvery);
    else snprintf(szStalls, sizeof(szStalls), "never stalls");
    printf("\nCapture against a disk that %s: a frame every %.2f ms, disk %.1f MB/s (a\n"
           "quarter above the stream), %d interleaved runs of %.0f s per mode; min / median / max over the runs\n",
           szStalls, g_dStallPeriod * 1e3, 1.25 * g_dCompressedBytes / g_dStallPeriod / 1e6, nRuns, dSeconds);
    fflush(stdout);
    std::vector<std::vector<CAPTURERUN>> runs(nModes);
    for (int r = 0; r < nRuns; r++)
        for (size_t m = 0; m < nModes; m++) runs[m].push_back(CaptureWithStalls(s_aModes[m], dSeconds, r, msStall, msEvery));
    printf("  %-24s %-17s %-17s %-17s %-20s %-20s %s\n", "mode", "periods lost", "late calls", "p50 ms", "p99 ms",
           "max ms", "p99 / codec's p99");
    for (size_t m = 0; m < nModes; m++) {
        std::vector<double> aLost, aLate, aP50, aP99, aMax, aRatio;
        for (int r = 0; r < nRuns; r++) {
            const CAPTURERUN &run = runs[m][(size_t)r];
            aLost.push_back(run.dLost);
            aLate.push_back(run.dLate);
            aP50.push_back(run.dP50 * 1e3);
            aP99.push_back(run.dP99 * 1e3);
            aMax.push_back(run.dMax * 1e3);
            aRatio.push_back(runs[0][(size_t)r].dP99 > 0 ? run.dP99 / runs[0][(size_t)r].dP99 : 0);
        }
        TRIPLE lost = Spread(aLost), late = Spread(aLate), p50 = Spread(aP50), p99 = Spread(aP99), mx = Spread(aMax),
               ratio = Spread(aRatio);
        printf("  %-24s %5.0f %5.0f %5.0f %5.0f %5.0f %5.0f %5.1f %5.1f %5.1f %6.1f %6.1f %6.1f %6.0f %6.0f %6.0f "
               "%5.2f %5.2f %5.2f\n",
               s_aModes[m].pszName, lost.dMin, lost.dMedian, lost.dMax, late.dMin, late.dMedian, late.dMax, p50.dMin,
               p50.dMedian, p50.dMax, p99.dMin, p99.dMedian, p99.dMax, mx.dMin, mx.dMedian, mx.dMax, ratio.dMin,
               ratio.dMedian, ratio.dMax);
        fflush(stdout);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    // Files in memory by default, so that only the simulated disk is timed.
    const char *pszDir = getenv("SPOOL_BENCH_DIR");
    std::string base = pszDir && pszDir[0] ? pszDir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    std::string pattern = base + "/slowdiskXXXXXX";
    std::vector<char> szTemplate(pattern.begin(), pattern.end());
    szTemplate.push_back(0);
    if (!mkdtemp(szTemplate.data())) return 1;
    g_dir = szTemplate.data();
    if (const char *pszSize = getenv("SPOOL_BENCH_SIZE")) {
        long w = 0, h = 0;
        if (sscanf(pszSize, "%ldx%ld", &w, &h) == 2 && w > 0 && h > 0 && w <= 8192 && h <= 8192) {
            WIDTH = (LONG)w;
            HEIGHT = (LONG)h;
        }
    }
    std::string sample = std::string(argc > 0 ? argv[0] : ".");
    sample = sample.substr(0, sample.rfind('/') + 1) + "samplecodec.so";
    HMODULE hSample = LoadLibraryA(sample.c_str());
    if (!hSample) {
        fprintf(stderr, "cannot load %s\n", sample.c_str());
        return 1;
    }
    g_pfnWrappedProc = ProcAs<DRIVERPROC>(GetProcAddress(hSample, "DriverProc"));
    InitInstanceList();

    Calibrate();
    {
        // The decoder's time per frame, for the playback disk.
        CLIP clip = Record();
        SESSION s = OpenSession(SpoolcapProc);
        std::vector<BYTE> picture(Pictures()[0].bih.biSizeImage);
        std::vector<double> times;
        for (size_t i = 0; i < 2 * clip.frames.size(); i++) {
            double t0 = Now();
            DecompressOne(s.dwId, clip, clip.frames[i % clip.frames.size()], &picture);
            times.push_back(Now() - t0);
        }
        CloseSession(&s);
        RemoveFiles();
        std::sort(times.begin(), times.end());
        g_dDecodeSeconds = times[times.size() / 2];
    }
    printf("%ldx%ld frames of %.0f bytes in the reference files; codec %.2f ms a frame, decode %.2f ms;\n"
           "capture: a frame every %.2f ms, disk %.1f MB/s (a quarter above the stream's %.1f MB/s);\n"
           "playback: disk %.1f MB/s; every transfer also takes %lu us\n",
           (long)WIDTH, (long)HEIGHT, g_dCompressedBytes, g_dCodecSeconds * 1e3, g_dDecodeSeconds * 1e3,
           g_dFramePeriod * 1e3, 1.25 * g_dCompressedBytes / g_dFramePeriod / 1e6,
           g_dCompressedBytes / g_dFramePeriod / 1e6, PlayBandwidth() / 1e6, LATENCY_US);

    std::vector<char *> args = DefaultBenchmarkArgs(argc, argv);
    int nArgs = (int)args.size();
    benchmark::Initialize(&nArgs, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    PrintRatioHeading("per frame on the simulated disk");
    PrintRatio(reporter, "capture, background writes, against the codec alone", "capture/overlap", "capture/codec");
    PrintRatio(reporter, "capture, direct writes, against the codec alone", "capture/direct", "capture/codec");
    double dRead = reporter.Median("play/read"), dDecode = reporter.Median("play/decode");
    double dAhead = reporter.Median("play/overlap"), dDirect = reporter.Median("play/direct");
    if (dRead > 0 && dDecode > 0) {
        printf("  %-62s %6.2f x  (play/overlap / max(play/read, play/decode))\n",
               "playback with read-ahead, against the larger of read and decode", dAhead / std::max(dRead, dDecode));
        printf("  %-62s %6.2f ms\n", "  time per frame beyond the larger of read and decode", dAhead - std::max(dRead, dDecode));
        printf("  %-62s %6.2f x  (play/direct / (play/read + play/decode))\n",
               "playback without read-ahead, against read and decode together", dDirect / (dRead + dDecode));
    }
    if (g_dHostCpuShare >= 0)
        printf("  %-62s %5.1f %%\n", "host thread's processor time while it waits on the disk, of the wall time",
               100 * g_dHostCpuShare);
    StallStudy();
    ReleaseAllInstances(FALSE);
    rmdir(g_dir.c_str());
    return 0;
}
