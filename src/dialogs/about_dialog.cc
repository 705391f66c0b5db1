#include "dialogs/about_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "app/help_topics.h"
#include "base/version.h"
#include "report/formats.h"

namespace twinmere::ui {

AboutDialog::AboutDialog(const PlatformFacts& facts, FormServices& services, QWidget* owner)
    : QDialog(owner) {
  setObjectName("AboutDialog");
  setWindowTitle(tr("About %1").arg(QString::fromLatin1(kProgramTitle)));
  imgIcon = Named(new QLabel(QString(), this), "imgIcon");
  lblTitle = Named(new QLabel(QString::fromLatin1(kProgramTitle), this), "lblTitle");
  // The version as the reports write it, and beside it as the packages and
  // --version do.
  lblVersion = Named(new QLabel(tr("Version ") + QString::fromStdString(VersionText()) + " (" +
                                    QString::fromLatin1(kVersion) + ")",
                                this),
                     "lblVersion");
  lblOs = Named(new QLabel(QString::fromStdString(facts.OsText), this), "lblOs");
  lblAdmin = Named(new QLabel(tr("Administrative privileges: ") +
                                  (facts.IsAdmin ? tr("Granted.") : tr("Not granted.")),
                              this),
                   "lblAdmin");
  cmdOK = Named(new QPushButton(tr("OK"), this), "cmdOK");
  cmdOK->setDefault(true);
  for (QLabel* label : {lblVersion, lblOs, lblAdmin}) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }

  lblTitle->setWhatsThis(
      tr("The name of this program, which keeps a Target folder in step "
         "with a Source folder."));
  lblVersion->setWhatsThis(
      tr("The version of the program as the first and last lines of every report write it, "
         "and in brackets as the package and twinmere-cli --version give it. Quote it when you "
         "report a problem."));
  lblOs->setWhatsThis(
      tr("The operating system the program runs on: the kernel's name and "
         "release, and the distribution's name."));
  lblAdmin->setWhatsThis(
      tr("Whether the program runs with administrative privileges (as root, or with the "
         "capabilities to change owners). Only then can a run copy owners, groups and ACLs."));
  cmdOK->setWhatsThis(tr("Closes this window."));
  imgIcon->setWhatsThis(tr("The program's icon."));

  auto* texts = new QVBoxLayout;
  texts->addWidget(lblTitle);
  texts->addWidget(lblVersion);
  texts->addSpacing(fontMetrics().height() / 2);
  texts->addWidget(lblOs);
  texts->addWidget(lblAdmin);
  auto* top = new QHBoxLayout;
  top->addWidget(imgIcon, 0, Qt::AlignTop);
  top->addSpacing(fontMetrics().averageCharWidth() * 2);
  top->addLayout(texts, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(fontMetrics().height());
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

  UpdateUI();
  SetUpForm(*this, services, kHelpAbout, {});
}

void AboutDialog::UpdateUI() {
  QFont title = font();
  title.setBold(true);
  if (title.pointSizeF() > 0) {
    title.setPointSizeF(title.pointSizeF() * 1.6);
  } else {
    title.setPixelSize(title.pixelSize() * 8 / 5);
  }
  lblTitle->setFont(title);
  const int size = style()->pixelMetric(QStyle::PM_LargeIconSize) * 2;
  const QIcon icon = QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_DirIcon)
                                                         : QApplication::windowIcon();
  imgIcon->setPixmap(icon.pixmap(size, size));
}

}  // namespace twinmere::ui
