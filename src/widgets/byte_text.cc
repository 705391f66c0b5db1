#include "widgets/byte_text.h"

#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

namespace twinmere::ui {

QString BytesToText(const std::string& bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string TextToBytes(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

QString ByteText::Text() const {
  return edit_ != nullptr ? edit_->text() : lines_->toPlainText();
}

void ByteText::Set(const std::string& bytes) {
  bytes_ = bytes;
  shown_ = BytesToText(bytes);
  // Setting the same text again would move the caret of a field being typed in.
  if (Text() == shown_) return;
  if (edit_ != nullptr) {
    edit_->setText(shown_);
  } else {
    lines_->setPlainText(shown_);
  }
}

std::string ByteText::Get() const {
  const QString text = Text();
  return text == shown_ ? bytes_ : TextToBytes(text);
}

std::optional<std::string> DraggedPath(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return std::nullopt;
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return std::nullopt;
  // The path's bytes as the URL carries them, not UTF-8 decoded.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

bool IsDragEvent(const QEvent& event) {
  return event.type() == QEvent::DragEnter || event.type() == QEvent::DragMove ||
         event.type() == QEvent::Drop;
}

std::optional<std::string> AnswerDrag(QEvent& event, DropVerdict& verdict,
                                      const std::function<bool(const std::string&)>& accepts) {
  auto& drop = static_cast<QDropEvent&>(event);
  std::optional<std::string> path = DraggedPath(drop.mimeData());
  if (!path || !verdict.For(*path, accepts)) {
    drop.ignore();
    return std::nullopt;
  }
  drop.setDropAction(Qt::CopyAction);
  drop.accept();
  return path;
}

}  // namespace twinmere::ui
