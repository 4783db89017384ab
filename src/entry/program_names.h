#pragma once
// Names this program shares with the game and its installer, and its own exit codes.

// Held with initial ownership while the updater runs: the first keeps a second
// updater out, the second the game, its launcher and its uninstaller.
constexpr char UPDATER_MUTEX_NAME[] = "Updater for Sundrift is executing.";
constexpr char GAME_MUTEX_NAME[] = "Tessarine for Sundrift is executing.";

// The install folder's registry key is "Software\<publisher>\<title>".
constexpr char PUBLISHER_NAME[] = "Pellowick";
constexpr char GAME_TITLE[] = "Aubrelle";

// Exit codes of the ends before the run; after a run, its UpdateResult.
constexpr int EXIT_NOT_INSTALLED = -1;
constexpr int EXIT_GAME_RUNNING = -2;
constexpr int EXIT_DECLINED = -3;
constexpr int EXIT_NO_DIALOG = -4;
constexpr int EXIT_ALREADY_RUNNING = -5;
