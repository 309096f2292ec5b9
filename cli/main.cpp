// spool's entry: the command's name picks the command; --help for each.
#include "cli/spool.h"

#include "scaffold/recordnames.h"
#include "scaffold/version.h"

#ifdef _WIN32
#include <shellapi.h>
#endif

#include <stdlib.h>

#include <string.h>

namespace {

struct COMMANDHELP {
    LPCSTR pszName;
    int (*pfnRun)(int argc, char **argv);
    LPCSTR pszUsage;
    LPCSTR pszEnglish;
    LPCSTR pszJapanese;
};

const COMMANDHELP s_aCommands[] = {
    {"scan", ScanCommand, "spool scan REFFILE [--json]",
     "Lists the frames of a reference file: offset, sizes and picture size of each,\n"
     "and reports a damaged header with its byte position.\n"
     "  --json   the listing as JSON\n",
     "参照ファイルのフレーム (位置, サイズ, 画像サイズ) を一覧し,\n"
     "破損したヘッダをそのバイト位置とともに報告します.\n"
     "  --json   一覧をJSONで出力\n"},
    {"salvage", SalvageCommand,
     "spool salvage REFFILE -o OUT.avi [--codec FOURCC | --raw FOURCC] [--size WxH] [--rate R] [--from AVI]",
     "Writes an AVI of reference records for every frame of a reference file.\n"
     "  --codec FOURCC  the codec the frames were compressed with\n"
     "  --raw FOURCC    the file holds uncompressed frames; FOURCC is the codec\n"
     "                  Spoolcap was installed in front of\n"
     "  --size WxH      the picture size (default: the first frame's)\n"
     "  --rate R        frames per second, a fraction or a decimal (default 30000/1001)\n"
     "  --from AVI      codec, size, rate and the video format chunk of another AVI\n",
     "参照ファイルの全フレームの参照レコードからなるAVIファイルを出力します.\n"
     "  --codec FOURCC  フレームを圧縮したコーデック\n"
     "  --raw FOURCC    無圧縮のフレーム; FOURCCは参照化したコーデック\n"
     "  --size WxH      画像サイズ (既定: 最初のフレームのサイズ)\n"
     "  --rate R        フレームレート, 分数または小数 (既定 30000/1001)\n"
     "  --from AVI      他のAVIのコーデック, サイズ, フレームレートとビデオフォーマット\n"},
    {"refs", RefsCommand, "spool refs AVI [--json] [--map FROM=TO]... | spool refs --who FILE DIR...",
     "Lists every reference file the AVI uses: frames, first frame, size on disk,\n"
     "and whether it exists. With --who, lists the AVIs under the folders that\n"
     "name FILE (the file itself, by whatever name).\n"
     "  --json          the listing as JSON\n"
     "  --map FROM=TO   find files stored under FROM at TO (for example 'D:\\rec=/mnt/rec')\n",
     "AVIファイルが参照する参照ファイル (フレーム数, 最初のフレーム, サイズ, 有無) を一覧します.\n"
     "--who ではフォルダーの中で FILE (どの名前で書かれていても同じファイル) を参照する AVI を一覧します.\n"
     "  --json          一覧をJSONで出力\n"
     "  --map FROM=TO   FROMで記録されたファイルをTOで探す (例 'D:\\rec=/mnt/rec')\n"},
    {"verify", VerifyCommand, "spool verify AVI [-v] [--json] [--map FROM=TO]... | spool verify -r DIR... [--jobs N] [--cross]",
     "Checks every record: its file exists, a frame header lies at its offset and\n"
     "its size matches. Exit status 0 only when all hold. A relocation cut short is\n"
     "reported (exit status 1), never acted on: spool recover does that.\n"
     "  -v              list the bad frames\n"
     "  --json          the result as JSON\n"
     "  --map FROM=TO   find files stored under FROM at TO\n"
     "  -r DIR...       every AVI under the folders, and a summary (exit status: the worst)\n"
     "  --jobs N        with -r, N AVIs at once, each in a spool of its own (default 2)\n",
     "すべての参照レコードを検査します: ファイルがあり, その位置にフレームヘッダがあり,\n"
     "サイズが一致すること. すべて正しいときだけ終了コード0. 中断された移動は報告するだけで\n"
     "(終了コード1), 処理は spool recover で行います.\n"
     "  -v              不正なフレームを一覧\n"
     "  --json          結果をJSONで出力\n"
     "  --map FROM=TO   FROMで記録されたファイルをTOで探す\n"
     "  -r DIR...       フォルダーの中のすべてのAVIと集計 (終了コードは最も悪い結果)\n"
     "  --jobs N        -r で N 個ずつ別の spool で同時に処理 (既定 2)\n"},
    {"library", LibraryCommand, "spool library DIR... [--json] [--verify] [--cross] [--jobs N] [--map FROM=TO]...",
     "Walks the folders (never through a link, nor into another file system without\n"
     "--cross), tells AVIs and reference files by their contents, and lists each\n"
     "AVI with the reference files it names and whether each is there; the\n"
     "reference files that no AVI of the trees names, newest first, with their\n"
     "sizes; those that more than one AVI names; and the AVIs beside which a\n"
     "relocation's note stays. Exit status 1 for an AVI not read whole, a note,\n"
     "a named file that is missing or a folder that could not be listed.\n"
     "  --json          the listing as one JSON document\n"
     "  --verify        also check every record's frame, as verify does\n"
     "  --cross         also walk into other file systems\n"
     "  --jobs N        share the files among N spool processes (default 2 when the\n"
     "                  AVIs hold 64 MB or more)\n"
     "  --map FROM=TO   find files stored under FROM at TO\n",
     "フォルダーをたどり (リンクはたどらず, --cross がなければ別のファイルシステムにも入りません),\n"
     "AVI と参照ファイルを中身で見分けて, 各 AVI が参照するファイルとその有無,\n"
     "どの AVI も参照していない参照ファイル (新しい順, サイズ付き), 複数の AVI が\n"
     "参照しているファイル, 中断された移動の記録が残る AVI を一覧します. 読みきれない AVI,\n"
     "記録, ない参照ファイル, 一覧できないフォルダーがあれば終了コード1.\n"
     "  --json          一覧を1つのJSONで出力\n"
     "  --verify        verify と同じく各参照レコードのフレームも検査\n"
     "  --cross         別のファイルシステムにも入る\n"
     "  --jobs N        N 個の spool でファイルを分けて読む (AVI が合わせて 64 MB 以上なら既定 2)\n"
     "  --map FROM=TO   FROMで記録されたファイルをTOで探す\n"},
    {"clean", CleanCommand, "spool clean DIR... --unused [--yes] [--older DAYS] [--cross] [--jobs N] [--map FROM=TO]...",
     "Lists the reference files under the folders that no AVI of the folders names\n"
     "and, with --yes, deletes them, each named in the output. A file is deleted\n"
     "only when its frames run whole from its start to its end, and nothing is\n"
     "deleted while an AVI or a folder of the trees cannot be read.\n"
     "  --unused        the files that no AVI names (required)\n"
     "  --yes           delete them (without it nothing changes)\n"
     "  --older DAYS    only files last written more than DAYS days ago\n",
     "フォルダーの中で, どの AVI も参照していない参照ファイルを一覧し, --yes で削除します\n"
     "(削除したファイルはすべて表示します). 削除するのは先頭から末尾までフレームだけで\n"
     "できているファイルだけで, 読めない AVI やフォルダーがあれば何も削除しません.\n"
     "  --unused        どの AVI も参照していないファイル (必須)\n"
     "  --yes           削除する (なければ何も変更しません)\n"
     "  --older DAYS    最後の書き込みが DAYS 日より前のファイルだけ\n"},
    {"move", MoveCommand, "spool move AVI --base NEWBASE [--copy] [--delete-after] [--force] [FILE...]",
     "Gives reference files the next numbers of a new base name and rewrites the\n"
     "AVI's records; without FILE, every file the AVI uses. Only reference files\n"
     "are moved, and only when every frame of the AVI was read.\n"
     "  --base NEWBASE  the new base name\n"
     "  --copy          copy instead of moving (always so onto another drive)\n"
     "  --delete-after  delete each old file once its copy is complete\n"
     "  --force         also move files named by foreign reference frames, whose\n"
     "                  format cannot be checked\n",
     "参照ファイルに新しいベース名の次の番号を付け, AVIファイルの参照レコードを書き換えます.\n"
     "FILEがなければAVIが参照するすべてのファイル. 移動するのは参照ファイルだけで,\n"
     "AVIのすべてのフレームを読めたときだけです.\n"
     "  --base NEWBASE  新しい参照ファイルベース名\n"
     "  --copy          移動せずに複写 (別ドライブへは常に複写)\n"
     "  --delete-after  複写が完了した古いファイルを削除\n"
     "  --force         形式を確かめられない参照フレームが参照するファイルも移動\n"},
    {"delete", DeleteCommand, "spool delete AVI (FILE... | --all --yes) [--force]",
     "Deletes the named reference files of the AVI, or with --all the AVI and then\n"
     "every one of them (only with --yes). Only reference files are deleted. With\n"
     "--all, the files that other AVIs in their folders or the AVI's name too are\n"
     "kept and listed (exit status 1).\n"
     "  --force         also delete files named by foreign reference frames, whose\n"
     "                  format cannot be checked, and with --all the files that\n"
     "                  other AVIs name too\n",
     "AVIファイルの指定した参照ファイルを, --allではAVIファイルとすべての参照ファイルを\n"
     "削除します (--yesが必要). 削除するのは参照ファイルだけです. --all では, 同じフォルダーの\n"
     "他のAVIファイルも参照しているファイルは残して一覧します (終了コード1).\n"
     "  --force         形式を確かめられない参照フレームが参照するファイルも, --all では\n"
     "                  他のAVIファイルも参照しているファイルも削除\n"},
    {"recover", RecoverCommand, "spool recover AVI",
     "Finishes or rolls back a relocation of the AVI's reference files that was cut\n"
     "short, as its note beside the AVI describes, when the files are the ones the\n"
     "note names. move and delete do this first themselves. Exit status 1 when the\n"
     "note stays.\n",
     "中断された参照ファイルの移動を, AVIファイルのそばの記録に従って完了するか元に戻します.\n"
     "記録が示すファイルが今あるファイルと一致するときだけです. move と delete は先に\n"
     "これを行います. 記録が残るときは終了コード1.\n"},
    {"resolve", ResolveCommand, "spool resolve AVI -o OUT.avi [--map FROM=TO]... | spool resolve -r DIR... -o OUTDIR [--jobs N]",
     "Writes a self-contained AVI: every record replaced by its frame, everything\n"
     "else copied, the index rebuilt.\n"
     "  --map FROM=TO   find files stored under FROM at TO\n"
     "  -r DIR...       every AVI under the folders, written under OUTDIR in the same\n"
     "                  folders, and a summary (exit status: the worst)\n"
     "  --jobs N        with -r, N AVIs at once, each in a spool of its own (default 2)\n",
     "参照レコードをフレームで置き換えた, 単独で再生できるAVIファイルを出力します.\n"
     "  --map FROM=TO   FROMで記録されたファイルをTOで探す\n"
     "  -r DIR...       フォルダーの中のすべてのAVIを OUTDIR の下の同じ階層に出力し, 集計を表示\n"
     "  --jobs N        -r で N 個ずつ別の spool で同時に処理 (既定 2)\n"},
    {"install", InstallCommand, "spool install FOURCC [--dll PATH] [--after-update] [--keep-settings]",
     "Puts Spoolcap in front of an installed video codec (Windows, as an administrator):\n"
     "the codec's driver keeps its bytes under its name with .org appended and Spoolcap\n"
     "takes its name. Refused, with nothing changed, for an unknown codec, a codec of\n"
     "the other width, one that Spoolcap already stands in front of, and a protected\n"
     "system file; undone when the codec does not then answer as it did. Writes the\n"
     "settings with reference writing off when there are none.\n"
     "  --dll PATH   the Spoolcap to install (default: spoolcap.dll beside spool)\n"
     "  --after-update  after an update of the codec over Spoolcap, moves the old .org\n"
     "               aside under a dated name first\n"
     "  --keep-settings  installs though kept settings turn reference writing on with a\n"
     "               base name whose folder is not there\n",
     "インストール済みのビデオコーデックの前に Spoolcap を置きます (Windows, 管理者として):\n"
     "コーデックのドライバは .org を付けた名前になり, Spoolcap がその名前になります.\n"
     "不明なコーデック, ビット数の違うコーデック, すでに Spoolcap があるコーデック, 保護された\n"
     "システムファイルは何も変更せずに断ります. その後コーデックが以前と同じに応答しなければ\n"
     "元に戻します. 設定がなければ参照ファイル作成を無効にして書き込みます.\n"
     "  --dll PATH   置く Spoolcap (既定: spool と同じフォルダの spoolcap.dll)\n"
     "  --after-update  コーデックが Spoolcap の上から更新されたあと, 古い .org を日時付きの\n"
     "               名前に移してからインストール\n"
     "  --keep-settings  残っている設定が参照ファイル作成を有効にしたまま, ベース名のフォルダーが\n"
     "               ないときでもインストール\n"},
    {"uninstall", UninstallCommand, "spool uninstall FOURCC",
     "Takes Spoolcap away from in front of a codec: the codec's driver gets its name\n"
     "back, byte for byte as it was. The settings file stays.\n",
     "コーデックの前から Spoolcap を外します: コーデックのドライバは元の名前とバイト列に\n"
     "戻ります. 設定ファイルは残ります.\n"},
    {"repair", RepairCommand, "spool repair FOURCC",
     "Finishes or undoes an install or uninstall that was cut short (by a kill or a\n"
     "power loss), as its journal beside the codec's driver says, and deletes the copies\n"
     "of Spoolcap that such a run left. Every command on a codec does the first itself.\n",
     "中断されたインストールまたはアンインストールを, コーデックのドライバの隣のジャーナル\n"
     "に従って完了するか元に戻し, そのような実行が残した Spoolcap の複写を削除します.\n"
     "コーデックに対するどのコマンドも, 前者を最初に自分で行います.\n"},
    {"status", StatusCommand, "spool status [--json]",
     "Lists every video codec: its driver and width, whether Spoolcap stands in front of\n"
     "it, its settings file, whether reference writing is on, and its base names.\n"
     "  --json   the listing as JSON\n",
     "すべてのビデオコーデック (ドライバとビット数, Spoolcap の有無, 設定ファイル, 参照ファイル\n"
     "作成の有無, ベース名) を一覧します.\n"
     "  --json   一覧をJSONで出力\n"},
    {"config", ConfigCommand, "spool config FOURCC [--mkdir] [KEY=VALUE...]",
     "Shows Spoolcap's settings for the codec, or changes them: BaseFile, BaseFile2,\n"
     "Padding (percent), Enabled, BiFiled, NoCompress, OverlapRead, OverlapWrite (0 or 1),\n"
     "WriteQueueMB (0 to 2048: megabytes of frames that background writing may hold).\n"
     "Base names are full paths in a folder that is there. A bad value is refused and the\n"
     "file stays as it was; the file is written whole and read back, or not changed.\n"
     "  --mkdir  makes the base names' folders\n",
     "コーデックの Spoolcap の設定を表示または変更します: BaseFile, BaseFile2, Padding\n"
     "(パーセント), Enabled, BiFiled, NoCompress, OverlapRead, OverlapWrite (0 か 1),\n"
     "WriteQueueMB (0 から 2048: 非同期書込みがためておけるフレームのメガバイト数).\n"
     "ベース名は, あるフォルダーの中のフルパスです. 不正な値は断り, ファイルは変更しません.\n"
     "ファイルは全体を書いて読み戻すか, まったく変更しないかのどちらかです.\n"
     "  --mkdir  ベース名のフォルダーを作成\n"},
    {"codecs", CodecsCommand, "spool codecs",
     "Lists the installed video codecs: driver, FOURCC and description.\n",
     "インストールされたビデオコーデック (ドライバ, FOURCC, 説明) を一覧します.\n"},
};

const COMMANDHELP *FindCommand(LPCSTR pszName)
{
    for (const COMMANDHELP &command : s_aCommands)
        if (strcmp(command.pszName, pszName) == 0) return &command;
    return NULL;
}

int ShowOverview(FILE *pFile)
{
    Say(pFile, "spool %s: reference files of Spoolcap recordings from the command line\n\n",
        "spool %s: Spoolcapの参照ファイルをコマンドラインで扱います\n\n", PRODUCT_VERSION);
    for (const COMMANDHELP &command : s_aCommands) fprintf(pFile, "  %s\n", command.pszUsage);
    Say(pFile,
        "\nAfter any command, --names CP gives the code page of the records' names (932 unless given).\n"
        "spool COMMAND --help tells more. Exit status: 0 success, 1 problems found, 2 usage or I/O error.\n",
        "\nどのコマンドにも --names CP で参照レコードのファイル名の文字コードを指定できます (既定 932).\n"
        "詳しくは spool COMMAND --help. 終了コード: 0 成功, 1 問題あり, 2 使い方または入出力のエラー.\n");
    return pFile == g_pOut ? SPOOL_OK : SPOOL_ERROR;
}

}  // namespace

int ShowCommandHelp(LPCSTR pszCommand)
{
    const COMMANDHELP *pCommand = FindCommand(pszCommand);
    if (!pCommand) return SPOOL_ERROR;
    Say(g_pOut, "usage: %s\n\n%s", "使い方: %s\n\n%s", pCommand->pszUsage,
        g_fJapanese ? pCommand->pszJapanese : pCommand->pszEnglish);
    return SPOOL_OK;
}

namespace {

// --names CP, anywhere after the command: the code page of the records'
// names. Without it, records are taken to hold code page 932, the page of
// the Japanese Windows they are made on (on such a Windows, the process's
// own). FALSE for a page that is no number the system converts.
BOOL TakeNamesOption(int *pargc, char **argv, LPCSTR *ppszBad)
{
    UINT uPage = GetACP() == 932 ? CP_ACP : 932;
    for (int i = 2; i < *pargc; i++) {
        LPCSTR pszValue = NULL;
        if (!TakeOption(*pargc, argv, &i, "--names", NULL, &pszValue)) continue;
        int iFirst = pszValue && pszValue != argv[i] + 8 ? i - 1 : i;
        char *pEnd = NULL;
        unsigned long ul = pszValue ? strtoul(pszValue, &pEnd, 10) : 0;
        if (pszValue && (_stricmp(pszValue, "utf-8") == 0 || _stricmp(pszValue, "utf8") == 0)) ul = CP_UTF8, pEnd = (char *)"";
        WCHAR w;
        if (!pszValue || !pEnd || *pEnd || ul == 0 || ul > 65535 || MultiByteToWideChar((UINT)ul, 0, "a", 1, &w, 1) != 1) {
            *ppszBad = pszValue ? pszValue : "--names";
            return FALSE;
        }
        uPage = (UINT)ul == GetACP() ? CP_ACP : (UINT)ul;
        // The option and its value leave the command's arguments.
        int nTaken = i - iFirst + 1;
        for (int k = iFirst; k + nTaken < *pargc; k++) argv[k] = argv[k + nTaken];
        *pargc -= nTaken;
        i = iFirst - 1;
    }
    g_uRecordNamePage = uPage;
    return TRUE;
}

}  // namespace

#ifdef _WIN32
BOOL ArgumentsFitCodePage(LPCWSTR pwszCommandLine)
{
    // A program whose code page is UTF-8 is given every character.
    if (GetACP() == CP_UTF8) return TRUE;
    int cArgs = 0;
    LPWSTR *ppwszArgs = CommandLineToArgvW(pwszCommandLine, &cArgs);
    if (!ppwszArgs) return TRUE;
    BOOL fFit = TRUE;
    for (int i = 1; i < cArgs && fFit; i++) {
        BOOL fDefault = FALSE;
        int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, ppwszArgs[i], -1, NULL, 0, NULL, &fDefault);
        if (cb > 0 && !fDefault) continue;
        fFit = FALSE;
        // The argument as this program would have had it.
        CHAR szShown[MAX_PATH];
        if (!WideCharToMultiByte(CP_ACP, 0, ppwszArgs[i], -1, szShown, sizeof(szShown), NULL, NULL))
            snprintf(szShown, sizeof(szShown), "%s", "?");
        szShown[sizeof(szShown) - 1] = '\0';
        Complain("argument %d (%s) holds a character that code page %u cannot hold; spool would take it for another. "
                 "Use a name without it. Nothing was changed.",
                 "引数 %d (%s) にコードページ %u で表せない文字があり, spool は別の文字として受け取ってしまいます. "
                 "その文字のない名前を使ってください. 何も変更していません.",
                 i, szShown, GetACP());
    }
    LocalFree(ppwszArgs);
    return fFit;
}
#endif

int SpoolMain(int argc, char **argv)
{
    InitSpoolOutput();
    ClearPathMaps();
    if (argc < 2) return ShowOverview(g_pErr);
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) return ShowOverview(g_pOut);
    if (strcmp(argv[1], "--version") == 0) {
        fprintf(g_pOut, "spool %s\n", PRODUCT_VERSION);
        return SPOOL_OK;
    }
    const COMMANDHELP *pCommand = FindCommand(argv[1]);
    if (!pCommand) {
        Complain("unknown command: %s", "不明なコマンド: %s", argv[1]);
        return ShowOverview(g_pErr);
    }
    for (int i = 2; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return ShowCommandHelp(pCommand->pszName);
    LPCSTR pszBadPage = NULL;
    if (!TakeNamesOption(&argc, argv, &pszBadPage)) return UsageError(pCommand->pszName, pszBadPage);
    int nStatus = pCommand->pfnRun(argc - 2, argv + 2);
    EndProgress();
    fflush(g_pOut);
    fflush(g_pErr);
    return nStatus;
}
