// The inputs that the fuzz target grew, loaded and decoded again, their
// reference files detected and renamed: no crash, and every file that does
// not load ends in one of the load's messages.
#include "tests/mover_fixture.h"
#include "fuzz/shift_input.h"
#include "avi/aviread.h"
#include "mover/shift.h"

#include <string.h>

namespace {

bool IsLoadMessage(const std::string &text)
{
    static const char *const s_apszEndings[] = {
        " がオープンできません!", " にAVIチャンクがありません!", " にList/hdrlチャンクがありません!",
        " にavihチャンクがありません!", " のavihチャンクが読み出せん!", "(strh) のアセンドに失敗しました!",
        "(LIST) のアセンドに失敗しました!", "(LIST/hdrl) のアセンドに失敗しました!",
        "からウェーブフォーマット取得が失敗しました!", "からドライバID/ビデオフォーマット取得が失敗しました!",
        "ドライバ情報が取得できません!", " にList/moviチャンクがありません!", " のアセンドに失敗しました!",
        " はDIBチャンクがありません!", "(DIB) のアセンドに失敗しました!", " にidx1チャンクがありません!",
        "メモリが確保できません!", " のidx1チャンクが読み出せん!", "(AVI) のアセンドに失敗しました!",
        "のOpenDMLインデックスが読み出せません!",
    };
    for (const char *psz : s_apszEndings) {
        size_t n = strlen(psz);
        if (text.size() >= n && text.compare(text.size() - n, n, psz) == 0) return true;
    }
    return false;
}

class FuzzCorpus : public AviTest {};

TEST_F(FuzzCorpus, EveryInputLoadsOrEndsInALoadMessage)
{
#ifdef _WIN32
    GTEST_SKIP() << "Wine's stream library asserts on some of these inputs; the native run replays them";
#endif
    std::string corpus = JoinPath(TestDataFolder(), "corpus");
    std::vector<std::string> names = ListFolder(corpus);
    ASSERT_GT(names.size(), 10u);
    int nLoaded = 0;
    int anNoteKinds[RELOCNOTE_FOREIGN + 1] = {0};
    int anLayerResults[AVIREAD_UNREADABLE + 1] = {0};
    for (const std::string &name : names) {
        g_aShown.clear();
        std::vector<BYTE> bytes = ReadBytes(JoinPath(corpus, name));
        anNoteKinds[ParseNoteInput(bytes.data(), bytes.size())]++;
        anLayerResults[ReadAviInput(JoinPath(corpus, name).c_str())]++;
        if (LoadFile(JoinPath(corpus, name))) {
            nLoaded++;
            DWORD nFrames = info.nFrames < 64 ? info.nFrames : 64;
            for (DWORD n = 0; n < nFrames; n++) {
                DecodeFrame(&info, n);
                DWORD cb = 0;
                AccessFrameData(&info, g_pbScratch, (DWORD)(g_pbWork + g_cbWork - g_pbScratch), n, FALSE, &cb);
            }
            RunShiftCommands(&info);
        } else {
            ASSERT_FALSE(g_aShown.empty()) << name;
            EXPECT_TRUE(IsLoadMessage(g_aShown.back().text)) << name << ": " << g_aShown.back().text;
        }
        LoadAvi(&info, FALSE);
    }
    // The corpus reaches the far end of loading too, and every kind of note.
    EXPECT_GT(nLoaded, 0);
    EXPECT_GT(anLayerResults[AVIREAD_OK], 0);
    EXPECT_GT(anLayerResults[AVIREAD_NOT_AVI], 0);
    for (int nKind = RELOCNOTE_TORN; nKind <= RELOCNOTE_FOREIGN; nKind++) EXPECT_GT(anNoteKinds[nKind], 0) << nKind;
}

}  // namespace
