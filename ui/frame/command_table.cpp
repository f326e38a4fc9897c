// The command table's texts. Prompts and tool tips are the window's own texts; a command that
// the framework used to provide (exit, about, the bars) keeps its usual short tool tip.
#include "ui/frame/command_table.h"

namespace quarry {

const std::vector<CommandEntry>& CommandTable() {
  static const std::vector<CommandEntry> table = {
      {kCmdAddTask, "添加新任务(&N)", "添加一个新的搜索任务", "添加任务", "add_task"},
      {kCmdRunTask, "运行任务(&R)", "运行当前任务", "运行任务", "run_task"},
      {kCmdStopTask, "停止任务(&S)", "停止当前任务", "停止任务", "stop_task"},
      {kCmdDeleteTask, "删除任务(&D)", "删除当前任务", "删除任务", "delete_task"},
      {kCmdRunAll, "运行全部任务(&A)", "运行全部任务", "运行全部", "run_all"},
      {kCmdStopAll, "停止全部任务(&T)", "终止所有任务", "终止全部", "stop_all"},
      {kCmdDeleteAll, "删除全部任务(&L)", "删除全部任务", "删除全部", ""},
      {kCmdRerunTask, "重新运行(&G)", "把已完成的任务放回等待队列；再次运行时只下载新的文件",
       "重新运行", ""},
      {kCmdRetryFailed, "重试失败的文件(&F)",
       "再次下载当前任务中因网络、超时、服务器错误或磁盘已满而失败的文件", "重试失败的文件", ""},
      {kCmdExportRecords, "导出记录(&E)...", "把当前任务的文件和失败记录导出为 CSV 或 JSON 文件",
       "导出记录", ""},
      {kCmdOpenFolder, "打开所在文件夹(&O)", "在文件管理器中打开当前任务的文件夹", "打开所在文件夹",
       ""},
      {kCmdDeleteAllButton, "删除全部任务", "删除全部任务", "删除全部", "delete_all"},
      {kCmdRecentFile, "最近的文件", "打开此文档", "", ""},
      {kCmdExit, "退出(&X)", "退出应用程序；提示保存文档", "退出", ""},
      {kCmdSettings, "参数设置(&P)", "系统参数设置", "", ""},
      {kCmdShutDownWhenDone, "任务完成后关机(&S)", "当任务完成后关闭机器", "", ""},
      {kCmdShowFloating, "显示浮动窗口(&W)", "显示浮动窗口", "", ""},
      {kCmdToolBar, "工具栏(&T)", "显示或隐藏工具栏", "切换工具栏", ""},
      {kCmdStatusBar, "状态栏(&S)", "显示或隐藏状态栏", "切换状态栏", ""},
      {kCmdNextPage, "下一页(&N)", "浏览下一页", "下一页", "next_page"},
      {kCmdPreviousPage, "上一页(&P)", "浏览上一页", "上一页", "previous_page"},
      {kCmdFirstPage, "第一页(&F)", "浏览第一页", "第一页", "first_page"},
      {kCmdLastPage, "最后一页(&L)", "浏览最后一页", "最后一页", "last_page"},
      {kCmdAbout, "关于 Quarry(&A)...", "显示程序信息、版本号和版权", "关于", "about"},
      {kCmdHelp, "帮助(&H)", "帮助文件", "", ""},
  };
  return table;
}

const std::vector<MenuEntry>& MenuTable() {
  static const std::vector<MenuEntry> menus = {
      {"任务管理(&T)",
       {kCmdAddTask, kCmdRunTask, kCmdStopTask, kCmdDeleteTask, kCmdRerunTask, kCmdRetryFailed,
        kCmdRunAll, kCmdStopAll, kCmdDeleteAll, kSeparator, kCmdOpenFolder, kCmdExportRecords,
        kSeparator, kCmdRecentFile, kSeparator, kCmdExit}},
      {"选项", {kCmdSettings, kCmdShutDownWhenDone, kCmdShowFloating}},
      {"视图(&V)", {kCmdToolBar, kCmdStatusBar}},
      {"结果浏览(&P)", {kCmdNextPage, kCmdPreviousPage, kCmdFirstPage, kCmdLastPage}},
      {"帮助(&H)", {kCmdAbout, kCmdHelp}},
  };
  return menus;
}

const std::vector<int>& ToolBarTable() {
  static const std::vector<int> buttons = {
      kCmdAddTask,  kCmdRunTask,         kCmdStopTask, kCmdDeleteTask, kCmdRunAll,
      kCmdStopAll,  kCmdDeleteAllButton, kSeparator,   kCmdNextPage,   kCmdPreviousPage,
      kCmdLastPage, kCmdFirstPage,       kCmdAbout};
  return buttons;
}

const CommandEntry* FindCommand(int id) {
  for (const CommandEntry& command : CommandTable()) {
    if (command.id == id) return &command;
  }
  return nullptr;
}

}  // namespace quarry
