#pragma once
// Every text the updater shows. The source is UTF-8; the build compiles it
// with -fexec-charset=CP932, so each literal holds its Shift-JIS bytes.
// Message texts are padded with ideographic spaces to 26 characters.

constexpr char TEXT_PROGRAM_TITLE[] = "「Aubrelle」 ｆｅｌｍｉｒパッチ ver 1.00";

constexpr char TEXT_CONSENT[] = "アップデートを行いますか？　　　　　　　　　　　　　";
constexpr char TEXT_GAME_RUNNING[] =
    "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません";
constexpr char TEXT_NOT_INSTALLED[] = "ゲームがインストールされていません　　　　　　　　　";
constexpr char TEXT_DIALOG_FAILURE[] = "ダイアログの起動に失敗しました。　　　　　　　　　　";
constexpr char TEXT_UNINSTALL_LIST_FAILURE[] = "アンインストレーションファイルの更新に失敗しました　";
constexpr char TEXT_OTHER_FAILURE[] = "何らかの要因によりアップデートが行えません　　　　　";
constexpr char TEXT_SUCCESS[] = "アップデートが完了しました　　　　　　　　　　　　　";
constexpr char TEXT_DAMAGED_PACKAGE[] = "アップデートプログラムが破損している可能性があります";

constexpr char TEXT_ABORT_CONFIRMATION[] = "アップデートを中止しますか？　　　　　　　　　　　　";

// Status line while an entry is copied; %s is its install name.
constexpr char TEXT_INSTALLING_FORMAT[] = "%sをインストール中";
