#include "scaffold/messages.h"

#include <stdio.h>

BOOL g_fEnglishMessages;

void RenderMessageV(LPSTR psz, size_t cb, const MESSAGE *pMsg, va_list args)
{
    vsnprintf(psz, cb, g_fEnglishMessages ? pMsg->pszEnglish : pMsg->pszJapanese, args);
}

void RenderMessage(LPSTR psz, size_t cb, const MESSAGE *pMsg, ...)
{
    va_list args;
    va_start(args, pMsg);
    RenderMessageV(psz, cb, pMsg, args);
    va_end(args);
}

// Both engines.
const MESSAGE MSG_NO_MEMORY = {"メモリが確保できません!", "Out of memory!"};
const MESSAGE MSG_NO_MEMORY_LEFT = {"メモリが足りません!", "Out of memory!"};
const MESSAGE MSG_CANNOT_OPEN = {"%sがオープンできません!", "%s cannot be opened!"};
const MESSAGE MSG_CANNOT_SEEK = {"%sがシークできません!", "%s: seeking failed!"};
const MESSAGE MSG_CANNOT_CREATE = {"%sが作成できません!", "%s cannot be created!"};
const MESSAGE MSG_NOT_A_REF_FILE = {"%sは参照ファイルではありません!", "%s is not a reference file!"};
const MESSAGE MSG_NO_AVI_CHUNK = {"%sにAVIチャンクがありません!", "%s has no AVI chunk!"};
const MESSAGE MSG_NO_HDRL = {"%sにList/hdrlチャンクがありません!", "%s has no LIST hdrl chunk!"};
const MESSAGE MSG_NO_AVIH = {"%sにavihチャンクがありません!", "%s has no avih chunk!"};
const MESSAGE MSG_AVIH_UNREADABLE = {"%s のavihチャンクが読み出せん!", "The avih chunk of %s cannot be read!"};

// Spoolshift: loading an AVI.
const MESSAGE MSG_AVI_CANNOT_OPEN = {"%s がオープンできません!", "%s cannot be opened!"};
const MESSAGE MSG_AVI_NO_AVI_CHUNK = {"%s にAVIチャンクがありません!", "%s has no AVI chunk!"};
const MESSAGE MSG_AVI_NO_HDRL = {"%s にList/hdrlチャンクがありません!", "%s has no LIST hdrl chunk!"};
const MESSAGE MSG_AVI_NO_AVIH = {"%s にavihチャンクがありません!", "%s has no avih chunk!"};
const MESSAGE MSG_NO_VIDEO_FORMAT = {"%s のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!",
                                     "The driver id or video format of %s could not be read from its vids chunk!"};
const MESSAGE MSG_NO_VIDEO_OR_WAVE_FORMAT = {
    "%s のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!\n"
    "%s のaudsチャンクからウェーブフォーマット取得が失敗しました!",
    "The driver id or video format of %s could not be read from its vids chunk!\n"
    "The wave format of %s could not be read from its auds chunk!"};
const MESSAGE MSG_NO_DRIVER_INFO = {"ドライバ情報が取得できません!", "The driver's information cannot be had!"};
const MESSAGE MSG_NO_MOVI = {"%s にList/moviチャンクがありません!", "%s has no LIST movi chunk!"};
const MESSAGE MSG_NO_VIDEO_CHUNK = {"%s はDIBチャンクがありません!", "%s has no video chunk!"};
const MESSAGE MSG_NO_IDX1 = {"%s にidx1チャンクがありません!", "%s has no idx1 chunk!"};
const MESSAGE MSG_IDX1_UNREADABLE = {"%s のidx1チャンクが読み出せん!", "The idx1 chunk of %s cannot be read!"};
const MESSAGE MSG_INDEX_SHORT = {"%s の\nフレームのインデックス数がヘッダのフレーム数に%ld足りませんでした!",
                                 "%s:\nthe index lists %ld frames fewer than the header says!"};
const MESSAGE MSG_INDEX_SURPLUS = {"%s の\nフレームのインデックス数がヘッダのフレーム数より%ld余分でした!",
                                   "%s:\nthe index lists %ld frames more than the header says!"};
const MESSAGE MSG_ODML_INDEX_UNREADABLE = {"%sのOpenDMLインデックスが読み出せません!",
                                           "The OpenDML indexes of %s cannot be read!"};
const MESSAGE MSG_UNSEEN_ODML = {
    "%sは1GBを超えるOpenDMLのAVIファイルで、最初のRIFFのフレームしか読めないため、参照ファイルを移動も削除もできません!",
    "%s is an OpenDML AVI past 1 GiB whose frames beyond the first RIFF cannot be read: its reference files cannot be "
    "moved or deleted!"};
const MESSAGE MSG_UNSEEN_UNLISTED = {
    "%sのmoviにはインデックスにないフレームがあるため、参照ファイルを移動も削除もできません!",
    "The movi list of %s holds frames that no index lists: its reference files cannot be moved or deleted!"};
const MESSAGE MSG_UNSEEN_VIDEO = {"%sには2つ目のビデオストリームがあり、そのフレームを読まないため、参照ファイルを移動も削除もできません!",
                                  "%s has a second video stream whose frames are not read: its reference files cannot be moved or deleted!"};
const MESSAGE MSG_UNSEEN_INDEX = {"%sのインデックスがすべてのフレームを挙げていないため、参照ファイルを移動も削除もできません!",
                                  "The index of %s does not list every frame: its reference files cannot be moved or deleted!"};

// Spoolshift: frames, detection, relocation, deletion, recovery.
const MESSAGE MSG_NO_AVI_OPEN = {"AVIファイルはオープンされていません!", "No AVI is open!"};
const MESSAGE MSG_FRAME_NUMBER = {"%s のフレームNoが不正です!", "%s: the frame number is not valid!"};
const MESSAGE MSG_FRAME_READ = {"%s のフレーム読み出しに失敗しました!", "%s: reading a frame failed!"};
const MESSAGE MSG_FRAME_SIZE = {"%s のフレーム圧縮サイズが一致しません!", "%s: the frame's size does not match!"};
const MESSAGE MSG_FRAME_WRITE = {"%s のフレーム書き込みに失敗しました!", "%s: writing a frame failed!"};
const MESSAGE MSG_COPY_ABORTED = {"参照ファイル%sの%sへのコピーは中止されました!",
                                  "The copy of reference file %s to %s was aborted!"};
const MESSAGE MSG_COPY_FAILED = {"参照ファイル%sの%sへのコピーでエラーが発生しました!", "Copying reference file %s to %s failed!"};
const MESSAGE MSG_BASE_PAST_999 = {"新しい参照ファイルベース名%sの番号が999を超えます!",
                                   "The numbers of the new base name %s would pass 999!"};
const MESSAGE MSG_MOVE_FAILED = {"参照ファイル%sの%sへの移動でエラーが発生しました!", "Moving reference file %s to %s failed!"};
const MESSAGE MSG_OLD_NOT_DELETED = {"古い参照ファイル%sの削除でエラーが発生しました!",
                                     "Deleting the old reference file %s failed!"};
const MESSAGE MSG_FRAMES_NAME_NEW = {"AVIファイルのフレームは参照ファイル%sを参照しています!",
                                     "The AVI's frames name the reference file %s!"};
const MESSAGE MSG_BASE_INVALID = {"新しい参照ファイルベース名%sが不正です!", "The new base name %s is not valid!"};
const MESSAGE MSG_REF_NOT_FOUND = {"参照ファイル%sが見つかりません!", "Reference file %s is not there!"};
const MESSAGE MSG_NEW_NAME_TOO_LONG = {"参照ファイル%sの新しい名前が長すぎます!", "The new name of reference file %s is too long!"};
const MESSAGE MSG_NAME_FILLS_FIELD = {
    "参照ファイル%sの名前はレコードの名前欄をちょうど埋めているため、移動を元に戻せません!",
    "The name of reference file %s fills its records' name field: a relocation could not be undone!"};
const MESSAGE MSG_BOTH_NOT_FOUND = {"参照ファイル%sと%sが見つかりません!", "Neither reference file %s nor %s is there!"};
const MESSAGE MSG_RELOCATION_FINISHED = {"中断された参照ファイル%sの%sへの移動を完了しました.",
                                         "The interrupted relocation of reference file %s to %s was finished."};
const MESSAGE MSG_RELOCATION_ROLLED_BACK = {"中断された参照ファイル%sの%sへの移動を元に戻しました.",
                                            "The interrupted relocation of reference file %s to %s was rolled back."};
const MESSAGE MSG_REF_NOT_DELETED = {"参照ファイル%s削除でエラーが発生しました!", "Deleting reference file %s failed!"};
const MESSAGE MSG_AVI_NOT_DELETED = {"AVIファイル%sの削除でエラーが発生しました!", "Deleting the AVI %s failed!"};
const MESSAGE MSG_DELETE_ALL_OR_SELECTED = {
    "すべての参照ファイルとAVIファイル%sを削除しますか(Y), 選択された参照ファイルのみを削除しますか(N)?",
    "Delete every reference file and the AVI %s (Yes), or only the selected reference files (No)?"};
const MESSAGE MSG_DELETE_AVI = {"AVIファイル%sを削除しますか?", "Delete the AVI %s?"};
const MESSAGE MSG_DELETE_ALL_AND_AVI = {"すべての参照ファイルとAVIファイル%sを削除しますか?",
                                        "Delete every reference file and the AVI %s?"};
const MESSAGE MSG_FOREIGN_FILES = {
    "次のファイルは形式を確かめられない参照フレームが参照しています:\n%sこれらのファイルも処理しますか?",
    "These files are named by reference frames of a format that cannot be checked:\n%sAct on them too?"};
const MESSAGE MSG_SHARED_FILES = {
    "次の参照ファイルは他のAVIファイルも参照しています (かっこ内):\n%sこれらのファイルも削除しますか? 「いいえ」を選ぶと残します。",
    "These reference files are named by other AVIs too (in brackets):\n%sDelete them as well? No keeps them."};
const MESSAGE MSG_UNSEEN_DETECTION = {
    "参照ファイルの検出が最後のフレームまで終わっていないため、参照ファイルを移動も削除もできません!",
    "The detection of the reference files did not reach the last frame: no file can be moved or deleted!"};
const MESSAGE MSG_NOTE_STAYS = {
    "%sに中断された移動の記録が残っているため、参照ファイルを移動も削除もできません!",
    "A note of an interrupted relocation stays beside %s: its reference files cannot be moved or deleted!"};
const MESSAGE MSG_ANOTHER_PROGRAM = {"別のプログラムがこのAVIファイルの参照ファイルを移動しています!",
                                     "Another program is relocating this AVI's files!"};
const MESSAGE MSG_NOTE_NOT_OURS = {
    "%sは、このAVIファイルのレコードが参照する参照ファイルの移動の記録ではありません!",
    "%s is not the note of a relocation of reference files that this AVI's records name!"};
const MESSAGE MSG_NOTE_NEW_UNFIT = {"%sの新しい名前はレコードの名前欄に収まりません!",
                                    "The new name in %s does not fit the records' name field!"};
const MESSAGE MSG_NOTE_OLD_UNFIT = {"%sの元の名前はレコードの名前欄に収まりません!",
                                    "The old name in %s does not fit the records' name field!"};
const MESSAGE MSG_NOTE_FOREIGN = {"%sは中断された移動の記録ではありません!", "%s is not the note of an interrupted relocation!"};
const MESSAGE MSG_NOTE_FRAME_UNREADABLE = {
    "%sのフレーム%sが読めないため、中断された移動を完了も取り消しもできません!",
    "%s: frame %s cannot be read, so the interrupted relocation can be neither finished nor rolled back!"};
const MESSAGE MSG_REF_RELATIVE = {"参照ファイル%sはレコードに相対パスで記録されているため、移動も削除もできません!",
                                  "Reference file %s is named by a relative path in the records: it can be neither "
                                  "moved nor deleted!"};
const MESSAGE MSG_REF_LINK = {"参照ファイル%sはリンクのため、移動も削除もできません!",
                              "Reference file %s is a link: it can be neither moved nor deleted!"};
const MESSAGE MSG_REF_NOT_A_FILE = {"%sは通常のファイルではないため、移動も削除もできません!",
                                    "%s is not a regular file: it can be neither moved nor deleted!"};
const MESSAGE MSG_REF_CHANGED = {"参照ファイル%sは検出したときと別のファイルになっているため、処理しませんでした!",
                                 "Reference file %s is not the file that was detected: it was left alone!"};
const MESSAGE MSG_NOTE_NOT_PROVED = {
    "%sが記すファイルは今あるファイルと一致しないため、中断された移動を完了も取り消しもできません!",
    "The files that %s describes are not the files there now: the interrupted relocation can be neither finished "
    "nor rolled back!"};
const MESSAGE MSG_NOTE_KEPT_COPY = {"中断された移動の途中のコピー%sは残しました. 不要なら削除して下さい.",
                                   "The partial copy %s of the interrupted relocation was kept: delete it if it is "
                                   "not needed."};
const MESSAGE MSG_NOTE_KEPT_OLD = {"古い参照ファイル%sは残しました. %sが同じ内容を持っています. 不要なら削除して下さい.",
                                  "The old reference file %s was kept; %s holds the same bytes. Delete it if it is "
                                  "not needed."};
const MESSAGE MSG_RECOVER_QUESTION = {
    "%sの参照ファイルの移動が中断されています. 移動を完了するか元に戻しますか?\n(いいえを選ぶと表示だけになります)",
    "A relocation of the reference files of %s was cut short. Finish or roll it back now?\n(No opens the AVI for "
    "looking only)"};
const MESSAGE MSG_NAME_NOT_IN_RECORDS = {"%sは参照レコードの文字コードで表せない文字を含んでいます!",
                                         "%s holds a character that the records' code page cannot hold!"};
const MESSAGE MSG_AVI_CHANGED = {"AVIファイル%sは開いたときと別のファイルになっているため、削除しませんでした!",
                                 "The AVI %s is not the file that was opened: it was not deleted!"};

// Spoolmend.
const MESSAGE MSG_REF_UNREADABLE = {"%sが読み出せません!(%08lX)", "%s cannot be read! (%08lX)"};
const MESSAGE MSG_REF_DAMAGED = {"%sは参照ファイルではないか、\nバイト位置%uのヘッダが破損しています!",
                                 "%s is not a reference file, or the header at byte %u is damaged!"};
const MESSAGE MSG_CODEC_CANNOT_OPEN = {"コーデック%sがオープンできません!", "Codec %s cannot be opened!"};
const MESSAGE MSG_NO_REF_OPEN = {"参照ファイルはオープンされていません!", "No reference file is open!"};
const MESSAGE MSG_RATE_GIVES_NO_AVI = {"フレームレート「%s」ではAVIファイルを出力できません!",
                                       "No AVI can be written at the frame rate \"%s\"!"};
const MESSAGE MSG_OUTPUT_IS_REF = {"%sは参照ファイルです!\n別の名前を選んで下さい.", "%s is a reference file!\nChoose another name."};
const MESSAGE MSG_OUTPUT_IS_SOURCE = {"%sは設定を取得するAVIファイルです!\n別の名前を選んで下さい.",
                                      "%s is the AVI the settings are taken from!\nChoose another name."};
const MESSAGE MSG_NO_CODEC_USED = {"%sにはコーデックが使用されていません!", "%s uses no codec!"};
const MESSAGE MSG_AVIS_UNREADABLE = {"%s(avis)が読み出せません!", "%s (stream header) cannot be read!"};
const MESSAGE MSG_STRF_UNREADABLE = {"%s(strf)が読み出せません!", "%s (stream format) cannot be read!"};
const MESSAGE MSG_AVI_CODEC_CANNOT_OPEN = {"%sのビデオコーデック%sがオープンできません!", "%s: its video codec %s cannot be opened!"};
const MESSAGE MSG_AVI_CODEC_NO_INFO = {"%sのビデオコーデック%sの情報が取得できません!",
                                       "%s: the information of its video codec %s cannot be had!"};
const MESSAGE MSG_SETTINGS_NOT_TAKEN = {"%s\nコーデックの設定が取得できませんでした.", "%s\nThe codec's settings could not be had."};
const MESSAGE MSG_PREVIEW_NO_FORMAT = {"ICCompressGetFormat() failed!", "ICCompressGetFormat() failed!"};
const MESSAGE MSG_PREVIEW_FRAME_NUMBER = {"フレームNoが不正です!", "The frame number is not valid!"};
const MESSAGE MSG_PREVIEW_CODEC_CANNOT_OPEN = {"コーデックがオープンできません!", "The codec cannot be opened!"};
const MESSAGE MSG_PREVIEW_SEEK = {"参照ファイルがシークできません!", "The reference file: seeking failed!"};
const MESSAGE MSG_PREVIEW_READ = {"参照ファイルが読み出せません!", "The reference file cannot be read!"};
const MESSAGE MSG_PREVIEW_DECOMPRESS = {"フレームが伸張できません!", "The frame cannot be decompressed!"};
const MESSAGE MSG_NO_MEMORY_FOR = {"メモリが確保できません(%u)!", "Out of memory (%u)!"};
const MESSAGE MSG_WRITE_STRF = {"%sのstrf(video)書き込みに失敗しました!", "%s: writing the stream format failed!"};
const MESSAGE MSG_CREATE_AVI = {"%sにAVIチャンクを作成できません!", "%s: the AVI chunk cannot be made!"};
const MESSAGE MSG_CREATE_HDRL = {"%sにhdrlチャンクを作成できません!", "%s: the hdrl list cannot be made!"};
const MESSAGE MSG_CREATE_AVIH = {"%sにavihチャンクを作成できません!", "%s: the avih chunk cannot be made!"};
const MESSAGE MSG_WRITE_AVIH = {"%sのavih書き込みに失敗しました!", "%s: writing the avih chunk failed!"};
const MESSAGE MSG_CREATE_STRL = {"%sにstrl(video)チャンクを作成できません!", "%s: the stream list cannot be made!"};
const MESSAGE MSG_CREATE_STRH = {"%sにstrh(video)チャンクを作成できません!", "%s: the stream header cannot be made!"};
const MESSAGE MSG_WRITE_AVIS = {"%sのavis(video)書き込みに失敗しました!", "%s: writing the stream header failed!"};
const MESSAGE MSG_CREATE_STRF = {"%sにstrf(video)チャンクを作成できません!", "%s: the stream format cannot be made!"};
const MESSAGE MSG_CREATE_MOVI = {"%sにmoviチャンクを作成できません!", "%s: the movi list cannot be made!"};
const MESSAGE MSG_CREATE_00DB = {"%s に00dbチャンクを作成できません!", "%s: a frame chunk cannot be made!"};
const MESSAGE MSG_WRITE_00DB = {"%sの00db書き込みに失敗しました!", "%s: writing a frame chunk failed!"};
const MESSAGE MSG_CREATE_IDX1 = {"%sにidx1チャンクを作成できません!", "%s: the idx1 chunk cannot be made!"};
const MESSAGE MSG_WRITE_IDX1 = {"%sのidx1書き込みに失敗しました!", "%s: writing the idx1 chunk failed!"};

const MESSAGE *const g_apMessages[] = {
    &MSG_NO_MEMORY, &MSG_NO_MEMORY_LEFT, &MSG_CANNOT_OPEN, &MSG_CANNOT_SEEK, &MSG_CANNOT_CREATE, &MSG_NOT_A_REF_FILE,
    &MSG_NO_AVI_CHUNK, &MSG_NO_HDRL, &MSG_NO_AVIH, &MSG_AVIH_UNREADABLE, &MSG_AVI_CANNOT_OPEN, &MSG_AVI_NO_AVI_CHUNK,
    &MSG_AVI_NO_HDRL, &MSG_AVI_NO_AVIH, &MSG_NO_VIDEO_FORMAT, &MSG_NO_VIDEO_OR_WAVE_FORMAT, &MSG_NO_DRIVER_INFO,
    &MSG_NO_MOVI, &MSG_NO_VIDEO_CHUNK, &MSG_NO_IDX1, &MSG_IDX1_UNREADABLE, &MSG_INDEX_SHORT, &MSG_INDEX_SURPLUS,
    &MSG_ODML_INDEX_UNREADABLE, &MSG_UNSEEN_ODML, &MSG_UNSEEN_INDEX, &MSG_UNSEEN_UNLISTED, &MSG_UNSEEN_VIDEO, &MSG_NO_AVI_OPEN, &MSG_FRAME_NUMBER,
    &MSG_FRAME_READ, &MSG_FRAME_SIZE, &MSG_FRAME_WRITE, &MSG_COPY_ABORTED, &MSG_COPY_FAILED, &MSG_BASE_PAST_999,
    &MSG_MOVE_FAILED, &MSG_OLD_NOT_DELETED, &MSG_FRAMES_NAME_NEW, &MSG_BASE_INVALID, &MSG_REF_NOT_FOUND,
    &MSG_NEW_NAME_TOO_LONG, &MSG_NAME_FILLS_FIELD, &MSG_BOTH_NOT_FOUND, &MSG_RELOCATION_FINISHED,
    &MSG_RELOCATION_ROLLED_BACK, &MSG_REF_NOT_DELETED, &MSG_AVI_NOT_DELETED, &MSG_DELETE_ALL_OR_SELECTED,
    &MSG_DELETE_AVI, &MSG_DELETE_ALL_AND_AVI, &MSG_FOREIGN_FILES, &MSG_UNSEEN_DETECTION, &MSG_NOTE_STAYS,
    &MSG_ANOTHER_PROGRAM, &MSG_NOTE_NOT_OURS, &MSG_NOTE_NEW_UNFIT, &MSG_NOTE_OLD_UNFIT, &MSG_NOTE_FOREIGN,
    &MSG_NOTE_FRAME_UNREADABLE, &MSG_REF_RELATIVE, &MSG_REF_LINK, &MSG_REF_NOT_A_FILE, &MSG_REF_CHANGED,
    &MSG_NOTE_NOT_PROVED, &MSG_NOTE_KEPT_COPY, &MSG_NOTE_KEPT_OLD, &MSG_RECOVER_QUESTION, &MSG_AVI_CHANGED, &MSG_NAME_NOT_IN_RECORDS,
    &MSG_SHARED_FILES,
    &MSG_OUTPUT_IS_SOURCE, &MSG_REF_UNREADABLE, &MSG_REF_DAMAGED, &MSG_CODEC_CANNOT_OPEN, &MSG_NO_REF_OPEN,
    &MSG_RATE_GIVES_NO_AVI, &MSG_OUTPUT_IS_REF, &MSG_NO_CODEC_USED, &MSG_AVIS_UNREADABLE, &MSG_STRF_UNREADABLE,
    &MSG_AVI_CODEC_CANNOT_OPEN, &MSG_AVI_CODEC_NO_INFO, &MSG_SETTINGS_NOT_TAKEN, &MSG_PREVIEW_NO_FORMAT,
    &MSG_PREVIEW_FRAME_NUMBER, &MSG_PREVIEW_CODEC_CANNOT_OPEN, &MSG_PREVIEW_SEEK, &MSG_PREVIEW_READ,
    &MSG_PREVIEW_DECOMPRESS, &MSG_NO_MEMORY_FOR, &MSG_WRITE_STRF, &MSG_CREATE_AVI, &MSG_CREATE_HDRL,
    &MSG_CREATE_AVIH, &MSG_WRITE_AVIH, &MSG_CREATE_STRL, &MSG_CREATE_STRH, &MSG_WRITE_AVIS, &MSG_CREATE_STRF,
    &MSG_CREATE_MOVI, &MSG_CREATE_00DB, &MSG_WRITE_00DB, &MSG_CREATE_IDX1, &MSG_WRITE_IDX1,
};
const size_t g_nMessages = sizeof(g_apMessages) / sizeof(g_apMessages[0]);
