// The main window's command table: every command of the menu bar and the tool bar with its ID,
// menu text, status-bar prompt, tool tip and icon, the five menu popups and the tool-bar
// buttons in their order. The frame makes one QAction per command (its object name is the ID)
// and decides which ones are enabled; this file only holds the table.
#pragma once

#include <vector>

namespace quarry {

enum CommandId : int {
  kCmdAddTask = 32771,
  kCmdRunTask = 32773,
  kCmdStopTask = 32774,
  kCmdDeleteTask = 32776,
  kCmdRunAll = 32778,
  kCmdStopAll = 32780,
  kCmdDeleteAllButton = 32781,  // a tool-bar button without a handler
  kCmdSettings = 32783,
  kCmdShowFloating = 32786,
  kCmdShutDownWhenDone = 32788,
  kCmdNextPage = 32800,
  kCmdPreviousPage = 32802,
  kCmdFirstPage = 32803,
  kCmdLastPage = 32804,
  kCmdDeleteAll = 32809,
  kCmdRerunTask = 32810,
  kCmdOpenFolder = 32811,
  kCmdRetryFailed = 32812,
  kCmdExportRecords = 32813,
  kCmdToolBar = 59392,
  kCmdStatusBar = 59393,
  kCmdRecentFile = 57616,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdHelp = 57670,
};

inline constexpr int kSeparator = 0;

struct CommandEntry {
  int id;
  const char* menuText;  // with its "&" mnemonic
  const char* prompt;    // the status-bar text
  const char* toolTip;   // the prompt's second line; empty when it has none
  const char* icon;      // the drawing in resources/icons/, or empty
};

struct MenuEntry {
  const char* title;
  std::vector<int> commands;  // kSeparator between groups
};

// Every command, each once.
const std::vector<CommandEntry>& CommandTable();
// The popups of the menu bar, in order; the first is also the task tree's context menu.
const std::vector<MenuEntry>& MenuTable();
// The tool-bar buttons, in order, with kSeparator where a gap goes.
const std::vector<int>& ToolBarTable();
// The entry of `id`; null for an unknown ID.
const CommandEntry* FindCommand(int id);

}  // namespace quarry
