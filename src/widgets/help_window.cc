#include "widgets/help_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "app/program_data.h"
#include "base/version.h"
#include "fs/paths.h"

namespace twinmere::ui {
namespace {

// The help window is a window to assistive technology, not a bare panel.
QAccessibleInterface* HelpWindowInterface(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String(HelpBrowser::staticMetaObject.className())) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

}  // namespace

QString HelpPageName(int topic) {
  return topic == kHelpContents ? QStringLiteral("index.html")
                                : QString::number(topic) + QStringLiteral(".html");
}

std::string FindHelpFolder(FileSystem& fs) {
  return FindProgramData(fs, kHelpData, GetInstallFolder());
}

HelpBrowser::HelpBrowser(QString folder) : folder_(std::move(folder)) {
  static const bool interface_known = [] {
    QAccessible::installFactory(HelpWindowInterface);
    return true;
  }();
  (void)interface_known;
  setObjectName("HelpWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  auto* buttons = new QHBoxLayout;
  auto* back = new QPushButton(style()->standardIcon(QStyle::SP_ArrowBack), tr("&Back"), this);
  auto* forward =
      new QPushButton(style()->standardIcon(QStyle::SP_ArrowForward), tr("&Forward"), this);
  auto* contents = new QPushButton(tr("&Contents"), this);
  for (QPushButton* button : {back, forward, contents}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("helpBrowser");
  browser_->setOpenExternalLinks(true);
  browser_->setSearchPaths({folder_});
  layout->addWidget(browser_, 1);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(contents, &QPushButton::clicked, this, [this] { ShowPage(HelpPageName(kHelpContents)); });
  connect(browser_, &QTextBrowser::sourceChanged, this, &HelpBrowser::ShowTitle);
  resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 40);
  ShowTitle();
}

void HelpBrowser::ShowPage(const QString& page_name, const QString& section) {
  const QString path = folder_ + QLatin1Char('/') + page_name;
  if (!folder_.isEmpty() && QFileInfo(path).isFile()) {
    QUrl page = QUrl::fromLocalFile(path);
    page.setFragment(section);
    browser_->setSource(page);
    return;
  }
  const QString where = folder_.isEmpty() ? tr("no help folder was found beside the program "
                                               "nor in the installation's share/twinmere/help")
                                          : path.toHtmlEscaped();
  browser_->setHtml(tr("<h1>Help page missing</h1><p>The page %1 is not installed: %2.</p>")
                        .arg(page_name.toHtmlEscaped(), where));
  ShowTitle();
}

// The caption names the page and the help ("Options - Twinmere Help"); the
// contents page, whose title is the help's own, only once. The page is named
// by its title for screen readers.
void HelpBrowser::ShowTitle() {
  const QString program = QString::fromLatin1(kProgramTitle) + tr(" Help");
  const QString title = browser_->documentTitle();
  const bool own = title.isEmpty() || title == program;
  setWindowTitle(own ? program : title + QStringLiteral(" - ") + program);
  browser_->setAccessibleName(own ? program : title);
}

HelpWindow::HelpWindow(std::string folder) : folder_(std::move(folder)) {}

HelpWindow::~HelpWindow() {
  delete window_.data();
}

void HelpWindow::ShowHelpTopic(int topic, const QString& section) {
  if (window_ == nullptr) window_ = new HelpBrowser(QString::fromStdString(folder_));
  window_->ShowPage(HelpPageName(topic), section);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HelpWindow::CloseHelpWindow() {
  if (window_ != nullptr) window_->close();
}

bool ShowDialogMessage(QWidget* owner, const DialogMessage& message, HelpWindow& help) {
  const bool question = message.icon == MessageIcon::Information;
  QMessageBox box(question ? QMessageBox::Information : QMessageBox::Warning,
                  QString::fromLatin1(kProgramTitle), QString::fromStdString(message.text),
                  question ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, owner);
  box.setDefaultButton(QMessageBox::Ok);
  // A message box closes on every button; its Help button opens the topic
  // and leaves the box open instead.
  QPushButton* help_button = box.addButton(QMessageBox::Help);
  QObject::disconnect(help_button, &QAbstractButton::clicked, nullptr, nullptr);
  QObject::connect(help_button, &QAbstractButton::clicked, &box,
                   [&help, topic = message.help_topic] { help.ShowHelpTopic(topic); });
  box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Ok);
}

}  // namespace twinmere::ui
