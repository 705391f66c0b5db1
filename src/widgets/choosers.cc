#include "widgets/choosers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QStringList>

#include "widgets/byte_text.h"

namespace twinmere::ui {

std::string BrowseForFolder(QWidget* owner, const QString& title, const std::string& start_folder) {
  const QString start = start_folder.empty() ? QDir::homePath() : BytesToText(start_folder);
  const QString chosen = QFileDialog::getExistingDirectory(
      owner, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  if (chosen.isEmpty()) return {};
  std::string path = TextToBytes(QDir::cleanPath(chosen));
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

QStringList NameFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
    const qsizetype open = description.lastIndexOf(u'(');
    if (open >= 0 && description.endsWith(u')')) description = description.left(open).trimmed();
    filters << description + QStringLiteral(" (") + patterns + u')';
  }
  return filters;
}

bool ChooseFile(QWidget* owner, FileRequest& request) {
  QFileDialog dialog(owner, request.title);
  const bool save = request.mode == FileRequest::Mode::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  const QStringList filters = NameFilters(request.filter);
  dialog.setNameFilters(filters);
  if (request.filter_index >= 1 && request.filter_index <= filters.size()) {
    dialog.selectNameFilter(filters[request.filter_index - 1]);
  }
  if (!request.default_extension.isEmpty()) dialog.setDefaultSuffix(request.default_extension);
  if (!request.initial_folder.empty()) dialog.setDirectory(BytesToText(request.initial_folder));
  if (!request.file_name.empty()) dialog.selectFile(BytesToText(request.file_name));

  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    request.file_name.clear();
    request.filter_index = -1;
    return false;
  }
  request.file_name = TextToBytes(dialog.selectedFiles().first());
  request.filter_index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
  return true;
}

QFileSystemModel* DiskModel(QObject* owner, PathKinds kinds) {
  auto* model = new QFileSystemModel(owner);
  model->setFilter((kinds == PathKinds::Folders ? QDir::AllDirs : QDir::AllEntries) |
                   QDir::NoDotAndDotDot | QDir::Drives);
  model->setRootPath(QString());
  return model;
}

void CompletePaths(QLineEdit* field, QFileSystemModel* model) {
  auto* completer = new QCompleter(model, field);
  completer->setCompletionMode(QCompleter::PopupCompletion);
  field->setCompleter(completer);
  // The field would take every entry highlighted in the list as its text:
  // the list's moves are not passed on as highlights (Enter and a click
  // still pick the current entry).
  QObject::disconnect(completer->popup()->selectionModel(), &QItemSelectionModel::selectionChanged,
                      completer, nullptr);
  // The list belongs to its field: once the focus is elsewhere (an access
  // key, a click, assistive technology ...), it would take the keys meant for
  // the new place and put them into this field.
  QObject::connect(qApp, &QApplication::focusChanged, completer,
                   [completer, field](QWidget* /*old*/, QWidget* now) {
                     if (now != field && completer->popup()->isVisible())
                       completer->popup()->hide();
                   });
}

}  // namespace twinmere::ui
