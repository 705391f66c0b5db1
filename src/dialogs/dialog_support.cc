#include "dialogs/dialog_support.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/folder_fields.h"
#include "base/text.h"
#include "fs/paths.h"
#include "widgets/byte_text.h"
#include "widgets/choosers.h"
#include "widgets/text_fields.h"

namespace twinmere::ui {
namespace {

constexpr char kReportFileName[] = "SyncReport.txt";

// The behaviour AssistTextField gives; a child of its field.
class FieldAssist final : public QObject {
 public:
  FieldAssist(QLineEdit* field, QPushButton* browse, QPushButton* default_button)
      : QObject(field), field_(field), browse_(browse), default_button_(default_button) {
    if (browse_ != nullptr) tip_ = browse_->toolTip();
    field->installEventFilter(this);
    connect(field, &QLineEdit::textChanged, this, &FieldAssist::RefreshTip);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::FocusIn:
        SelectAllOnFocus(*field_, *static_cast<QFocusEvent*>(event));
        if (browse_ != nullptr) {
          browse_->setDefault(true);
          browse_->setToolTip(tip_ + QObject::tr(" (Enter)"));
        }
        break;
      case QEvent::FocusOut:
        if (browse_ != nullptr) {
          browse_->setToolTip(tip_);
          if (default_button_ != nullptr) default_button_->setDefault(true);
        }
        break;
      case QEvent::Resize:
        RefreshTip();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void RefreshTip() {
    const QString text = field_->text().trimmed();
    const int room = field_->contentsRect().width() - 8;
    field_->setToolTip(field_->fontMetrics().horizontalAdvance(text) > room ? text : QString());
  }

  QLineEdit* field_;
  QPushButton* browse_;
  QPushButton* default_button_;
  QString tip_;
};

}  // namespace

void AssistTextField(QLineEdit* field, QPushButton* browse, QPushButton* default_button) {
  new FieldAssist(field, browse, default_button);
}

void NameSpinBox(QSpinBox& box, const QString& name) {
  box.setAccessibleName(name);
  for (QLineEdit* text : box.findChildren<QLineEdit*>()) text->setAccessibleName(name);
}

QSpinBox* NewKeptRunsBox(QWidget* parent, const QString& name) {
  auto* box = new QSpinBox(parent);
  box->setRange(0, 9999);
  box->setSpecialValueText(QObject::tr("all runs"));
  const auto suffix = [box](int runs) {
    box->setSuffix(runs == 1 ? QObject::tr(" run") : QObject::tr(" runs"));
  };
  suffix(box->value());
  QObject::connect(box, &QSpinBox::valueChanged, box, suffix);
  NameSpinBox(*box, name);
  return box;
}

void BrowseIntoField(QWidget* owner, FileSystem& fs, ByteText& field, const QString& title) {
  const std::string chosen = BrowseForFolder(owner, title, BrowseStartFolder(fs, field.Get()));
  if (!chosen.empty()) {
    field.Set(AddSeparator(chosen));
    field.Edit()->selectAll();
  }
  field.Edit()->setFocus();
}

std::optional<std::string> ChooseReportFile(QWidget* owner, const QString& title,
                                            const std::string& text, const std::string& documents,
                                            ReportFolderText folder_text) {
  std::string proposal = TrimBlanks(text);
  if (proposal.empty()) {
    proposal = AddSeparator(documents.empty() ? GetInstallFolder() : documents) + kReportFileName;
  } else if (folder_text == ReportFolderText::ReportFileInIt && proposal.back() == kSeparator) {
    proposal += kReportFileName;
  }
  FileRequest request;
  request.title = title;
  request.filter = QString::fromLatin1(kTextFilesFilter);
  request.default_extension = QStringLiteral("txt");
  request.file_name = proposal;
  request.initial_folder = FolderPart(proposal);
  if (!ChooseFile(owner, request)) return std::nullopt;
  return request.file_name;
}

}  // namespace twinmere::ui
