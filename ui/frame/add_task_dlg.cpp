// CAddTaskDlg. The controls carry the IDs of the dialog's original layout as object names. The
// thread box is a spin box whose text cannot be typed into, so only its arrows (and the arrow
// keys) change it, always within 1 to 6. The page box takes digits only; its range is checked
// on OK, as is everything else the task record refuses. The filter section is closed at first,
// its button telling the filters in a few words, so the dialog stays as small as before.
#include "ui/frame/add_task_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStringDecoder>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>
#include <ctime>

#include "engine/keyword_list.h"

#include "ui/frame/file_rules_box.h"
#include "ui/frame/icons.h"

namespace {

constexpr int kFontPoints = 10;
constexpr char kMessageTitle[] = "Quarry 1.0";
constexpr int kDecorationSize = 32;
constexpr int kKeywordRows = 4;  // lines the keyword box shows before it scrolls
constexpr int kKeywordLoadId = 1003;

struct KindButton {
  int id;
  const char* text;
  quarry::FileKind kind;
};
constexpr KindButton kKindButtons[] = {{1008, "图片", quarry::FileKind::Image},
                                       {1009, "Word文档", quarry::FileKind::Word},
                                       {1010, "幻灯片", quarry::FileKind::Slides},
                                       {1011, "PDF文档", quarry::FileKind::Pdf},
                                       {1013, "Excel表格", quarry::FileKind::Excel}};

QString Id(int id) { return QString::number(id); }

}  // namespace

CAddTaskDlg::CAddTaskDlg(const std::string& home, QWidget* parent, int id)
    : QDialog(parent),
      m_picker([](QWidget* owner, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
      }),
      m_filePicker([](QWidget* owner, const QString& title, const QString& start) {
        return QFileDialog::getOpenFileName(owner, title, start,
                                            QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
      }) {
  setObjectName(Id(id));
  setWindowTitle(QStringLiteral("添加新任务"));
  QFont font;
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPointSize(kFontPoints);
  setFont(font);
  m_values.folder = home + "DownData/";

  auto* options = new QGroupBox(QStringLiteral("下载选项"), this);
  auto* grid = new QGridLayout(options);
  m_keyword = new QPlainTextEdit(options);
  m_keyword->setObjectName(Id(1000));
  m_keyword->setTabChangesFocus(true);
  m_keyword->setPlaceholderText(QStringLiteral("每行一个关键词，每个关键词一个任务"));
  m_keyword->setFixedHeight(m_keyword->fontMetrics().lineSpacing() * kKeywordRows +
                            2 * (m_keyword->frameWidth() + 4));
  m_loadKeywords = new QPushButton(QStringLiteral("从文件载入"), options);
  m_loadKeywords->setObjectName(Id(kKeywordLoadId));
  m_loadKeywords->setAutoDefault(false);
  m_folder = new QLineEdit(QString::fromStdString(m_values.folder), options);
  m_folder->setObjectName(Id(1001));
  m_folder->setReadOnly(true);
  m_folder->setCursorPosition(0);  // a long path shows from its start
  m_browse = new QPushButton(QStringLiteral("浏览"), options);
  m_browse->setObjectName(Id(1002));
  m_browse->setAutoDefault(false);
  m_threads = new QSpinBox(options);
  m_threads->setObjectName(Id(1016));
  m_threads->setRange(quarry::kMinThreadCount, quarry::kMaxThreadCount);
  m_threads->setValue(m_values.threadCount);
  if (auto* box = m_threads->findChild<QLineEdit*>()) {
    box->setObjectName(Id(1017));
    box->setReadOnly(true);
  }
  m_pages = new QLineEdit(QString::number(m_values.pageCount), options);
  m_pages->setObjectName(Id(1012));
  m_pages->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_pages));

  grid->addWidget(new QLabel(QStringLiteral("搜索关键词："), options), 0, 0);
  grid->addWidget(m_keyword, 0, 1);
  grid->addWidget(m_loadKeywords, 0, 2, Qt::AlignTop);
  grid->addWidget(new QLabel(QStringLiteral("保存到："), options), 1, 0);
  grid->addWidget(m_folder, 1, 1);
  grid->addWidget(m_browse, 1, 2);
  auto* counts = new QHBoxLayout;
  counts->addWidget(m_threads);
  counts->addSpacing(16);
  counts->addWidget(new QLabel(QStringLiteral("抓取页数："), options));
  counts->addWidget(m_pages);
  grid->addWidget(new QLabel(QStringLiteral("下载线程数："), options), 2, 0);
  grid->addLayout(counts, 2, 1, 1, 2);

  m_kinds = new QButtonGroup(this);
  auto* kinds = new QHBoxLayout;
  for (const KindButton& button : kKindButtons) {
    auto* radio = new QRadioButton(QString::fromUtf8(button.text), options);
    radio->setObjectName(Id(button.id));
    m_kinds->addButton(radio, static_cast<int>(button.kind));
    kinds->addWidget(radio);
  }
  m_kinds->button(static_cast<int>(quarry::FileKind::Image))->setChecked(true);
  grid->addLayout(kinds, 3, 0, 1, 3);

  m_rulesToggle = new QToolButton(options);
  m_rulesToggle->setObjectName(QStringLiteral("RulesToggle"));
  m_rulesToggle->setCheckable(true);
  m_rulesToggle->setAutoRaise(true);
  m_rulesToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  m_rulesToggle->setArrowType(Qt::RightArrow);
  m_rules = new CFileRulesBox(QString(), options);  // the button above names it
  m_rules->setVisible(false);
  grid->addWidget(m_rulesToggle, 4, 0, 1, 3);
  grid->addWidget(m_rules, 5, 0, 1, 3);
  ShowRulesSummary();
  connect(m_rules, &CFileRulesBox::RulesChanged, this, &CAddTaskDlg::ShowRulesSummary);
  connect(m_rulesToggle, &QToolButton::toggled, this, &CAddTaskDlg::ShowRules);
  // Sides, formats and likeness tell pictures apart; documents have none of them.
  connect(m_kinds, &QButtonGroup::idToggled, this, [this](int, bool) {
    m_rules->SetPictureControlsEnabled(m_kinds->checkedId() ==
                                       static_cast<int>(quarry::FileKind::Image));
  });

  auto* decoration = new QLabel(this);
  decoration->setPixmap(quarry::RenderIcon(QStringLiteral("add_task_dialog"),
                                           QSize(kDecorationSize, kDecorationSize)));
  m_startAtOnce = new QCheckBox(QStringLiteral("立即下载"), this);
  m_startAtOnce->setObjectName(Id(1007));
  m_startAtOnce->setChecked(true);
  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(Id(1));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(Id(2));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(decoration);
  bottom->addWidget(m_startAtOnce);
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options);
  layout->addLayout(bottom);

  connect(m_browse, &QPushButton::clicked, this, &CAddTaskDlg::Browse);
  connect(m_loadKeywords, &QPushButton::clicked, this, &CAddTaskDlg::LoadKeywordFile);
  connect(ok, &QPushButton::clicked, this, &CAddTaskDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CAddTaskDlg::reject);
  m_keyword->setFocus();
}

bool CAddTaskDlg::StartAtOnce() const { return m_startAtOnce->isChecked(); }

void CAddTaskDlg::SetRules(const quarry::FileRules& rules) { m_rules->SetRules(rules); }

quarry::FileRules CAddTaskDlg::Rules() const { return m_rules->Rules(); }

void CAddTaskDlg::ShowRules(bool shown) {
  if (m_rulesToggle->isChecked() != shown) {
    m_rulesToggle->setChecked(shown);  // whose toggled signal comes back here
    return;
  }
  m_rulesToggle->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
  m_rules->setVisible(shown);
  ShowRulesSummary();
  adjustSize();
}

void CAddTaskDlg::ShowRulesSummary() {
  // Closed, the button tells the filters; open, the controls do.
  m_rulesToggle->setText(m_rules->isVisibleTo(this)
                             ? QStringLiteral("筛选")
                             : QStringLiteral("筛选：") + m_rules->Summary());
}

void CAddTaskDlg::Browse() {
  const QString chosen = m_picker(this, QStringLiteral("请选择文件夹："), m_folder->text());
  if (chosen.isEmpty()) return;
  m_folder->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
  m_folder->setCursorPosition(0);
}

void CAddTaskDlg::LoadKeywordFile() {
  const QString path = m_filePicker(this, QStringLiteral("请选择关键词文件："), QString());
  if (path.isEmpty()) return;
  std::vector<quarry::KeywordLine> lines;
  std::string error;
  if (!quarry::ReadKeywordFile(path.toStdString(), &lines, &error)) {
    Refuse(QString::fromStdString(error) + QStringLiteral("。"), m_keyword);
    return;
  }
  QStringList keywords;
  for (const quarry::KeywordLine& line : lines) {
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString keyword = decode(QByteArray::fromStdString(line.keyword));
    if (decode.hasError()) {
      Refuse(QStringLiteral("关键词文件的第%1行不是有效的UTF-8文本。").arg(line.number), m_keyword);
      return;
    }
    keywords << keyword;
  }
  m_keyword->setPlainText(keywords.join(QLatin1Char('\n')));
}

QString CAddTaskDlg::KeywordRefusal(const QString& keyword) {
  // Half a surrogate pair (pasted from a broken source) would turn into '?' on the way to
  // UTF-8, so the task would search for something else than what the box shows.
  if (!keyword.isValidUtf16()) return QStringLiteral("关键词不是有效的UTF-8文本。");
  // The keyword names the folder the task saves into, inside the chosen folder.
  if (keyword.contains(QLatin1Char('/')))
    return QStringLiteral("关键词不能含有“/”：关键词是任务文件夹的名字。");
  if (keyword == QLatin1String(".") || keyword == QLatin1String(".."))
    return QStringLiteral("关键词不能是“.”或“..”：关键词是任务文件夹的名字。");
  if (keyword.contains(QChar(0)))
    return QStringLiteral("关键词不能含有空字符：关键词是任务文件夹的名字。");
  return QString();
}

void CAddTaskDlg::Refuse(const QString& message, QWidget* focus) {
  QMessageBox::warning(this, QString::fromLatin1(kMessageTitle), message);
  focus->setFocus();
  if (auto* edit = qobject_cast<QLineEdit*>(focus)) edit->selectAll();
}

void CAddTaskDlg::accept() {
  bool number = false;
  const int pages = m_pages->text().toInt(&number);
  if (!number || pages < quarry::kMinPageCount || pages > quarry::kMaxPageCount) {
    Refuse(QStringLiteral("Please enter an integer between %1 and %2.")
               .arg(quarry::kMinPageCount)
               .arg(quarry::kMaxPageCount),
           m_pages);
    return;
  }
  // The non-blank lines, trimmed; a refusal names the line when there are several.
  std::vector<std::pair<int, QString>> keywords;
  const QStringList lines = m_keyword->toPlainText().split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    const QString keyword = lines[i].trimmed();
    if (!keyword.isEmpty()) keywords.emplace_back(i + 1, keyword);
  }
  if (keywords.empty()) {
    Refuse(QStringLiteral("关键词不能为空!"), m_keyword);
    return;
  }
  QWidget* fault = nullptr;
  if (const QString refusal = m_rules->Refusal(&fault); !refusal.isEmpty()) {
    ShowRules(true);
    Refuse(QStringLiteral("筛选条件无效：%1").arg(refusal), fault);
    return;
  }
  const bool several = keywords.size() > 1;
  auto refuseLine = [&](int line, const QString& message) {
    Refuse(several ? QStringLiteral("第%1行：%2").arg(line).arg(message) : message, m_keyword);
  };
  std::vector<quarry::NewTaskValues> tasks;
  std::vector<quarry::SearchTask> records;
  for (const auto& [line, keyword] : keywords) {
    if (const QString refusal = KeywordRefusal(keyword); !refusal.isEmpty()) {
      refuseLine(line, refusal);
      return;
    }
    quarry::NewTaskValues values;
    values.keyword = keyword.toStdString();
    values.folder = m_folder->text().toStdString();
    values.threadCount = m_threads->value();
    values.pageCount = pages;
    values.kind = static_cast<quarry::FileKind>(m_kinds->checkedId());
    // Whatever else the record refuses (a keyword or folder too long) is said here, while the
    // user can still change it.
    quarry::SearchTask probe;
    std::string error;
    if (!quarry::MakeSearchTask(values, std::time(nullptr), &probe, &error)) {
      refuseLine(line, QString::fromStdString(error));
      return;
    }
    tasks.push_back(values);
    records.push_back(probe);
  }
  // A twin is left out; the records and the values stay in step by their keywords.
  std::vector<quarry::SearchTask> kept = records;
  const std::vector<std::string> skipped = quarry::DropUnfinishedTwins(&kept, m_unfinished);
  QStringList skippedNames;
  for (const std::string& keyword : skipped) skippedNames << QString::fromStdString(keyword);
  if (!skipped.empty()) {
    std::vector<quarry::NewTaskValues> keptTasks;
    for (std::size_t i = 0, k = 0; i < records.size() && k < kept.size(); ++i) {
      if (quarry::SameHarvest(records[i], kept[k])) {
        keptTasks.push_back(tasks[i]);
        ++k;
      }
    }
    tasks = std::move(keptTasks);
    const QString names = skippedNames.join(QStringLiteral("、"));
    if (tasks.empty()) {
      Refuse(QStringLiteral("这些关键词已是未完成的任务（同一文件夹、同一类型）：%1").arg(names),
             m_keyword);
      return;
    }
    QMessageBox::information(
        this, QString::fromLatin1(kMessageTitle),
        QStringLiteral("已跳过%1个已是未完成任务的关键词（同一文件夹、同一类型）：%2")
            .arg(skipped.size())
            .arg(names));
  }
  m_tasks = std::move(tasks);
  m_skipped = skipped;
  m_values = m_tasks.front();
  QDialog::accept();
}
