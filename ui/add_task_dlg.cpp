// CAddTaskDlg. The controls carry the IDs of the dialog's original layout as object names. The
// thread box is a spin box whose text cannot be typed into, so only its arrows (and the arrow
// keys) change it, always within 1 to 6. The page box takes digits only; its range is checked
// on OK, as is everything else the task record refuses.
#include "ui/add_task_dlg.h"

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
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>
#include <ctime>

#include "ui/icons.h"

namespace {

constexpr int kFontPoints = 10;
constexpr char kMessageTitle[] = "Quarry 1.0";
constexpr int kDecorationSize = 32;

struct KindButton {
  int id;
  const char* text;
  quarry::FileKind kind;
};
constexpr KindButton kKindButtons[] = {{1008, "图片", quarry::FileKind::Image},
                                       {1009, "Word文档", quarry::FileKind::Word},
                                       {1010, "幻灯片", quarry::FileKind::Slides},
                                       {1011, "PDF", quarry::FileKind::Pdf},
                                       {1013, "Excel表格", quarry::FileKind::Excel}};

QString Id(int id) { return QString::number(id); }

}  // namespace

CAddTaskDlg::CAddTaskDlg(const std::string& home, QWidget* parent, int id)
    : QDialog(parent), m_picker([](QWidget* owner, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
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
  m_keyword = new QLineEdit(options);
  m_keyword->setObjectName(Id(1000));
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
  grid->addWidget(m_keyword, 0, 1, 1, 2);
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

  auto* decoration = new QLabel(this);
  decoration->setPixmap(quarry::RenderIcon(QStringLiteral("add_task_dialog"),
                                           QSize(kDecorationSize, kDecorationSize)));
  m_startAtOnce = new QCheckBox(QStringLiteral("立即下载"), this);
  m_startAtOnce->setObjectName(Id(1007));
  m_startAtOnce->setChecked(true);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(Id(1));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
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
  connect(ok, &QPushButton::clicked, this, &CAddTaskDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CAddTaskDlg::reject);
  m_keyword->setFocus();
}

bool CAddTaskDlg::StartAtOnce() const { return m_startAtOnce->isChecked(); }

void CAddTaskDlg::Browse() {
  const QString chosen = m_picker(this, QStringLiteral("请选择文件夹："), m_folder->text());
  if (chosen.isEmpty()) return;
  m_folder->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
  m_folder->setCursorPosition(0);
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
  const QString keyword = m_keyword->text().trimmed();
  if (keyword.isEmpty()) {
    Refuse(QStringLiteral("关键词不能为空!"), m_keyword);
    return;
  }
  if (const QString refusal = KeywordRefusal(keyword); !refusal.isEmpty()) {
    Refuse(refusal, m_keyword);
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
    Refuse(QString::fromStdString(error), m_keyword);
    return;
  }
  m_values = values;
  QDialog::accept();
}
