// Every console text of the program, defined once, in UTF-8. The platform's console writer converts
// them to the console's encoding.
#pragma once

namespace quill::msg {

inline constexpr const char* kUsageLines[] = {
    "\nQuillodine - MPEG-2 TS stream Splitter Ver. 1.23\n",
    "不要なデータ削除および、HD/SD1/SD2/1SEGの分割を行います。\n",
    "使い方: Quillodine [-EIT] [-ECM] [-EMM] [-OUT 出力フォルダ] [-BUFF size] [-HD] [-SD] [-SDx] [-1SEG] [-NULL] [-FLIST ファイル名] src.ts ... \n",
    "        src.tsを読み込み不要なデータ削除後のsrc_HD.ts/src_SD1.ts/src_SD2.ts/\n",
    "        src_1SEG.ts等を同一フォルダ上(又は指定フォルダ)に作成します。\n",
    "\n",
    "  src.ts: 入力ファイル名(複数指定できます。)\n",
    "  -EIT  : 番組情報を残します。(PLAYLIST用にNIT～TOTを念のため残しておきます。)\n",
    "  -ECM  : ECM情報を残します。\n",
    "  -EMM  : EMM情報を残します。\n",
    "  -OUT  : 出力フォルダを指定します。\n",
    "  -BUFF : 出力バッファサイズを指定します。(MB)\n",
    "  -HD   : HDファイルを出力しません。\n",
    "  -SD   : SDファイルを出力しません。(1～3すべて)\n",
    "  -SDx  : SDxファイルを出力しません。(xは1～3)(複数指定可)\n",
    "  -1SEG : 1SEGファイルを出力しません。\n",
    "  -PID1F,20:指定PIDのパケットを残します。\n",
    "          (指定は16進数2桁、カンマ区切りで複数指定可)\n",
    "  -NULL : NULLパケット除去のみを行います。\n",
    "  -CS   : CS放送で、全てを出力する。(CSのtsを入力する場合はこれを指定しないと\n",
    "          正しく出力できません。)\n",
    "  -CS211,212: CS放送で、指定したchを出力する。(カンマで区切り複数指定可)\n",
    "  -SEP  : 番組情報毎に分割する\n",
    "  -SEP2 : 番組情報及びPMT(ProgramMapTable)毎に分割する\n",
    "  -SEP3 : PMT(ProgramMapTable)毎に分割する\n",
    "  -SEPA : 音声チャンネル切替箇所で分割する\n",
    "  -SEPA2: 音声チャンネル切替箇所で分割する\n",
    "  -SEPA3: 音声チャンネル切替箇所で分割する\n",
    "  -SEPAxC:ファイルを個々に作成する(-SEPAC,-SEPA2C,-SEPA3C)\n",
    "  -OVLxx1,xx2,x3,x4 : 分割するさいに前後に指定パケット分のデータを残す様にする\n",
    "                      (単位はKパケット)\n",
    "        : xx1は前に残すKパケット数(マイナス不可)\r\n",
    "        : xx2は後ろに残すKパケット数(マイナス可)\n",
    "        : x3は直前の分割より前のデータも残すかを指定(1:残す、0:残さない)\n",
    "        : x4はPMT分割の際に映像PIDが変わっている場合に前後のデータも残すかを\n",
    "          指定(1:残す、0:残さない)\n",
    "  -GOP  : MurdocCutter用のtxtファイルを作成します\n",
    "  -GOPONLY  : 指定したファイルのMurdocCutter用txtファイル作成のみを行います\n",
    "  -GOPCH    : -GOPおよび、-GOPONLYにCHを付加するとTimeCodeの部分に音声ch情報を\n",
    "              出力します。00ch:2mon,02ch:stereo\n",
    "  -GOPONLYCH: \n",
    "  -GOPTIME  : TIMEを付加すると放送時間を出力します。CHとTIME両方指定する場合は\n",
    "              -GOPCH -GOPTIMEと指定します。\n",
    "  -GOPONLYTIME:\n",
    "  -PTS  : 映像、音声および、PCRのPTSを1:00:00から振り直します。(一部のソフトで\n",
    "          再生出来なくなる場合があるので注意して下さい)\n",
    "  -B25  : B25Decoder.dllを使用します。(解除優先)(動作仕様についてはMulti2Decの\n",
    "         ドキュメント参照)\n",
    "  -B252 : B25Decoder.dllを使用します。(解除出来ない物はそのまま)\n",
    "  -B253 : B25Decoder.dllを使用します。(解除出来ない物は破棄「dll Ver2.02以降」)\n",
    "  -B25EMM: B25Decoder.dllを使用します。(EMM処理を行います「dll Ver2.02以降」)\n",
    "           (B25処理「B25,B252,B253」と同時に使用する必要があります。)\n",
    "  -LOG  : 変換結果のログを画面に出力します。(tsselectっぽいもの、ただしdrop値に\n",
    "          ついては多少誤差があるかもしれません)\n",
    "  -LOGFILE: 変換結果のログを画面とソースファイル名.log/_tsselect.logに出力しま\n",
    "            す。logは(\"作成ファイル名\",ファイルサイズ,scrambling件数)\n",
    "            _tsselect.logは(tsselectっぽいもの)\n",
    "            画面表示は-LOGと同じです。\n",
    "  -WAIT[,msec] : ファイル読み込みにすこしウェイトを挿入します。\n",
    "          msecは1回の読込み毎に挿入するウェイト時間を指定します。(省略時は10)\n",
    "  -WAIT2[,msec]: 他プログラムが同一HDを読込みしている場合はすこしウェイトを\n",
    "          挿入し邪魔をしない努力を行います\n",
    "          msecは1回の読込み毎に挿入するウェイト時間を指定します。(省略時は10)\n",
    "  -FLEN : 出力ファイル名(フォルダ名,Quillodine付加文字含む)が255バイト以上にな\n",
    "          る場合にファイル名末尾を削除します。\n",
    "           (Quillodineは同名ファイルは上書きしますのでファイル名末尾を削ること\n",
    "            で同名ファイルになるものが出力先にないか注意してください)\n",
    "  -UNI  : -FLEN使用時にファイル名をUnicodeとして255バイトないかチェックします。\n",
    "  -FLIST: 対象ファイルをリストファイルで指定する。(ファイル名を改行で区切り格納\n",
    "          したファイルを用意)\n",
    "\n",
    "  (パラメータ、src.tsの入力順番は順不同です。)\n",
    "  (-SEPA系、-GOP系、-PTSは映像・音声にscramblingがある場合は正しく動作しません)\n",
    "\n",
};

inline constexpr const char* kNegativeOverlap = "-OVLの前方パケットサイズにはマイナスは指定できません\r\n\r\n";
inline constexpr const char* kNoReadBuffer = "error - failed on allocating the read buffer\n";

// Mode summary pieces.
inline constexpr const char* kGopOnlyMode = "GOP作成モードオン";
inline constexpr const char* kNullOnlyMode = "NULL除去モードオン";
inline constexpr const char* kEitOn = "EITフラグ:オン";
inline constexpr const char* kEitOff = "EITフラグ:オフ";
inline constexpr const char* kEcmOn = "ECMフラグ:オン";
inline constexpr const char* kEcmOff = "ECMフラグ:オフ";
inline constexpr const char* kEmmOn = "EMMフラグ:オン";
inline constexpr const char* kEmmOff = "EMMフラグ:オフ";
inline constexpr const char* kSlash = "／";
inline constexpr const char* kOutputsFormat = "／HD%s,SD%s%s%s,1SEG%s";
inline constexpr const char* kEnabledMark = "○";
inline constexpr const char* kDisabledMark = "×";

// File job.
inline constexpr const char* kOpenSourceFailed = "error - failed on open(%s) [src]\n";
inline constexpr const char* kSourceName = "%s\n";
inline constexpr const char* kUnitSizeFailed = "error - failed on select_unit_size()\n";
// An input processed to its end without any output file although the options allowed some (no
// PMT came, or no service of an enabled class). Deliberately not an "error - " line: the front
// end counts those as finished inputs.
inline constexpr const char* kNoOutputWritten = "出力ファイルはありません(選択されたサービスが見つかりませんでした)\n";
// A piped input is kept in a spool file beside the outputs, to be read again: it could not be
// created (the output folder is missing or refuses new files), or a write to it or a read from it
// failed (a full disk) and the input stops there.
inline constexpr const char* kSpoolOpenFailed = "error - failed on open(%s) [spool]\n";
inline constexpr const char* kSpoolFailed = "\nerror - failed on the spool file [%s]\n";

// Descrambler library (standard error), and the read loop's guard on its output.
inline constexpr const char* kDescramblerLoadFailed =
    "Dllが読み込めませんでした(Dll又は、再頒布可能パッケージを確認して下さい)\r\n\r\n";
inline constexpr const char* kDescramblerInitFailed =
    "B25Decoder.dllの初期化でエラーが発生しました(カードリーダ又は、カードを確認して下さい)\r\n\r\n";
inline constexpr const char* kDescramblerOutputTooLarge =
    "\nwarning - descrambler output of %u bytes does not fit the read buffer; chunk kept as read\n";

// Progress line (rewritten in place; the front end reads the percentage) and the final line.
inline constexpr const char* kProgressLine = "  ( %s MB/ %s MB) %ld%%%s%s ";
inline constexpr const char* kFinalLine = "  ( %s MB/ %s MB) %ld%%%s%s\n";
// An input without a size (a pipe): the megabytes read and the rate of the last seconds in MB/s
// with one decimal, then the megabytes read in the final line.
inline constexpr const char* kStreamProgressLine = "  ( %s MB, %s MB/s)%s%s ";
inline constexpr const char* kStreamFinalLine = "  ( %s MB)%s%s\n";
inline constexpr const char* kStreamRate = "%lld.%lld";
inline constexpr const char* kProgressEmm = "EMM:%d";
inline constexpr const char* kProgressLabelHd = " H:";
inline constexpr const char* kProgressLabelOneSeg = " 1S:";
inline constexpr const char* kProgressLabelMulti = " S%d:";
inline constexpr const char* kProgressCountMega = "%dM";
inline constexpr const char* kProgressCountKilo = "%dK";
inline constexpr const char* kProgressCount = "%d";

// Programme and PMT splits: label ("PTS" or "Time") and clock of the cut, the new file's name.
inline constexpr const char* kProgrammeSplit = "\r\nEPG分割 %s:%02d:%02d:%02d:%03d(%s)\r\n";
inline constexpr const char* kPmtSplit = "\r\nPMT分割 %s:%02d:%02d:%02d:%03d(%s)\r\n";

// Audio-mode splits: old and new channel_configuration, label and clock of the audio packet that
// carries the change; the split line ends with the new file's name, the cancel line names the
// mode the look-ahead found (-1 when it found none).
inline constexpr const char* kAudioSplit = "\r\n音声分割(%dchから%dchへ) %s:%02d:%02d:%02d:%03d(%s)\r\n";
inline constexpr const char* kAudioSplitCancelled =
    "\r\n音声分割をキャンセルします。(%dch->%dch->%dchへの変化) %s:%02d:%02d:%02d:%03d\r\n";

// Writer.
inline constexpr const char* kOpenOutputFailed = "\nerror - failed on open [%s]\n";
inline constexpr const char* kWriteFailed = "\nerror - failed on write() [%s]\n";

// Statistics (-LOG, -LOGFILE). The report lines follow the layout of tsselect's output.
inline constexpr const char* kStatsNoMemory = "\nerror - failed on allocating statistics [%s]\n";
inline constexpr const char* kReportPath = "  %s\n";
inline constexpr const char* kReportPid = "    pid=0x%04x, total=%8lld, drop=%3lld, scrambling=%lld, biterror=%lld\n";
inline constexpr const char* kReportSize = "    size=%s KB, scrambling=%lld\n";
inline constexpr const char* kReportIncomplete = "    statistics incomplete (out of memory)\n";
inline constexpr const char* kReportLostFiles = "  statistics of %d file(s) lost (out of memory)\n";
// The same report in the tsselect log, and the one line per file of the summary log.
inline constexpr const char* kTsselectLogPath = "%s\r\n";
inline constexpr const char* kTsselectLogPid = "  pid=0x%04x, total=%8lld, drop=%3lld, scrambling=%lld, biterror=%lld\r\n";
inline constexpr const char* kTsselectLogSize = "  size=%s KB, scrambling=%lld\r\n";
inline constexpr const char* kTsselectLogIncomplete = "  statistics incomplete (out of memory)\r\n";
inline constexpr const char* kTsselectLogLostFiles = "statistics of %d file(s) lost (out of memory)\r\n";
inline constexpr const char* kSummaryLogLine = "\"%s\",%lld,%lld\r\n";

}  // namespace quill::msg
