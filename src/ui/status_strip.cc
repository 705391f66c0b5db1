#include "ui/status_strip.h"

#include <qdrawutil.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "report/formats.h"
#include "widgets/byte_text.h"

namespace twinmere::ui {
namespace {

constexpr int kTwipsPerInch = 1440;
// The room the progress pane keeps beside the status pane, and the margin
// of the status text inside its pane.
constexpr int kProgressPaneTwips = 2400;
constexpr int kStatusMarginTwips = 60;
// Pixels between the pane edge and the texts, and between texts and the bar.
constexpr int kInset = 5;

// The strip as assistive technology sees it: a status bar whose name is the
// status and whose description is the progress.
class StatusStripAccessible final : public QAccessibleWidget {
 public:
  explicit StatusStripAccessible(StatusStrip* strip)
      : QAccessibleWidget(strip, QAccessible::StatusBar) {}
  QString text(QAccessible::Text kind) const override {
    const auto* strip = static_cast<const StatusStrip*>(widget());
    switch (kind) {
      case QAccessible::Name:
        return strip->SpokenStatus();
      case QAccessible::Description:
        return strip->SpokenProgress();
      default:
        return QAccessibleWidget::text(kind);
    }
  }
};

QAccessibleInterface* StatusStripInterface(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String(StatusStrip::staticMetaObject.className())) return nullptr;
  return new StatusStripAccessible(static_cast<StatusStrip*>(object));
}

void Announce(QObject* strip, QAccessible::Event change) {
  QAccessibleEvent event(strip, change);
  QAccessible::updateAccessibility(&event);
}

}  // namespace

int TwipsToPixels(int twips, int dpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

int PixelsToTwips(int pixels, int dpi) {
  return dpi <= 0
             ? 0
             : static_cast<int>(std::lround(static_cast<double>(pixels) * kTwipsPerInch / dpi));
}

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent), grip_(new QSizeGrip(this)) {
  static const bool interface_known = [] {
    QAccessible::installFactory(StatusStripInterface);
    return true;
  }();
  (void)interface_known;
  setObjectName("lblInfo");
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int StatusStrip::StatusHeight() const {
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  return fontMetrics().height() + 2 * frame + 6;
}

QSize StatusStrip::sizeHint() const {
  return {TwipsToPixels(kProgressPaneTwips, logicalDpiX()) + StatusHeight(), StatusHeight()};
}

QSize StatusStrip::minimumSizeHint() const {
  return sizeHint();
}

int StatusStrip::StatusPaneWidth() const {
  return std::max(0, width() - TwipsToPixels(kProgressPaneTwips, logicalDpiX()) - StatusHeight());
}

int StatusStrip::StatusTextRoom() const {
  return StatusPaneWidth() - TwipsToPixels(kStatusMarginTwips, logicalDpiX()) - kInset;
}

void StatusStrip::SetView(const StatusProgressView& view) {
  const bool status_changed =
      view.status_text != view_.status_text || view.status_path != view_.status_path;
  const bool progress_changed =
      view.progress_text != view_.progress_text || view.eta_text != view_.eta_text;
  view_ = view;
  progress_text_ = BytesToText(view.progress_text);
  if (status_changed) ComposeStatusLine();
  update();
  if (status_changed) Announce(this, QAccessible::NameChanged);
  if (progress_changed) Announce(this, QAccessible::DescriptionChanged);
}

QString StatusStrip::SpokenStatus() const {
  QString status = BytesToText(view_.status_text).trimmed();
  if (!view_.status_path.empty())
    status += QLatin1Char(' ') + BytesToText(DisplayPath(view_.status_path));
  return status.isEmpty() ? tr("Status") : status;
}

QString StatusStrip::SpokenProgress() const {
  QStringList parts;
  for (const std::string* part : {&view_.progress_text, &view_.eta_text})
    if (!part->empty()) parts << BytesToText(*part);
  if (parts.isEmpty() && NoteShown())
    return note_ + QStringLiteral(": ") + note_details_.join(QStringLiteral("; "));
  return parts.join(QStringLiteral(", "));
}

void StatusStrip::SetNote(const QString& text, const QStringList& details) {
  if (text == note_ && details == note_details_) return;
  note_ = text;
  note_details_ = details;
  update();
  Announce(this, QAccessible::DescriptionChanged);
}

// The note's details show over the progress pane, as plain text.
bool StatusStrip::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && NoteShown()) {
    const auto* help = static_cast<QHelpEvent*>(event);
    if (help->pos().x() > PaneDivider()) {
      QToolTip::showText(help->globalPos(),
                         Qt::convertFromPlainText(note_details_.join(u'\n'), Qt::WhiteSpaceNoWrap),
                         this);
      return true;
    }
  }
  return QWidget::event(event);
}

void StatusStrip::SetBytesMode(bool bytes_mode) {
  bytes_mode_ = bytes_mode;
  update();
}

void StatusStrip::UpdateUI() {
  updateGeometry();
  ComposeStatusLine();
  update();
}

// The path gives way first: leading folder names become "...", then
// characters from the left, until the text and the path fit the pane.
void StatusStrip::ComposeStatusLine() {
  const QString text = BytesToText(view_.status_text);
  if (view_.status_path.empty()) {
    status_line_ = text;
    return;
  }
  const QFontMetrics metrics = fontMetrics();
  const int room = StatusTextRoom();
  const int text_width = metrics.horizontalAdvance(text);
  if (text_width >= room) {
    status_line_ = text;
    return;
  }
  const auto width = [&metrics](std::string_view part) {
    return static_cast<double>(metrics.horizontalAdvance(
        QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()))));
  };
  const std::string path =
      CompactPath(DisplayPath(view_.status_path), width, static_cast<double>(room - text_width));
  status_line_ = text + BytesToText(path);
}

void StatusStrip::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize grip = grip_->sizeHint();
  grip_->setGeometry(width() - grip.width(), height() - grip.height(), grip.width(), grip.height());
  ComposeStatusLine();
}

void StatusStrip::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::FontChange:
      UpdateUI();
      break;
    default:
      break;
  }
}

int StatusStrip::PaneDivider() const {
  const int pane = StatusPaneWidth();
  if (!NoteShown()) return pane;
  const QFontMetrics metrics = fontMetrics();
  const int needed = metrics.horizontalAdvance(note_) + 3 * kInset + 2;
  const int room = width() - grip_->sizeHint().width() - pane;
  if (needed <= room) return pane;
  const int status_end = 2 * kInset + metrics.horizontalAdvance(status_line_);
  return std::max(status_end, width() - grip_->sizeHint().width() - needed);
}

void StatusStrip::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QPalette& colours = palette();
  painter.fillRect(rect(), colours.window());
  QStyleOption option;
  option.initFrom(this);
  style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &painter, this);

  const int h = height();
  const int pane = PaneDivider();
  painter.setPen(colours.color(QPalette::WindowText));
  painter.drawText(QRect(kInset, 0, std::max(0, pane - kInset), h),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, status_line_);

  // An etched line closes the status pane, from 10 % to 90 % of the height.
  const int top = h / 10;
  const int bottom = h - h / 10;
  painter.setPen(colours.color(QPalette::Mid));
  painter.drawLine(pane, top, pane, bottom);
  painter.setPen(colours.color(QPalette::Light));
  painter.drawLine(pane + 1, top, pane + 1, bottom);

  // The progress figure, right-aligned in a box sized for its sample text.
  const int grip_left = width() - grip_->sizeHint().width();
  const QString sample =
      bytes_mode_ ? QStringLiteral("000 000 000 000 bytes processed") : QStringLiteral("000%");
  const int box_left = pane + 2 + kInset;
  const int box_width = std::min(fontMetrics().horizontalAdvance(sample) + 2 * kInset,
                                 std::max(0, grip_left - box_left));
  painter.setPen(colours.color(QPalette::WindowText));
  if (NoteShown()) {
    const int room = std::max(0, grip_left - kInset - box_left);
    painter.drawText(QRect(box_left, 0, room, h),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(note_, Qt::ElideRight, room));
    return;
  }
  painter.drawText(QRect(box_left, 0, box_width, h),
                   Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, progress_text_);

  // The bar: the middle half of the height, from after the box to the grip.
  if (!view_.percent_shown) return;
  const int x0 = box_left + box_width + kInset;
  const int bar_width = grip_left - kInset - x0;
  if (bar_width <= 2) return;
  const QRect bar(x0, h / 4, bar_width, h - 2 * (h / 4));
  const QColor progress = colours.color(QPalette::Highlight);
  const auto pixels = [&](double fraction) {
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * bar.width()));
  };
  const int done = pixels(view_.fraction_done);
  const int current = std::min(pixels(view_.fraction_current), bar.width() - done);
  painter.fillRect(QRect(bar.left(), bar.top(), done, bar.height()), progress);
  if (view_.fraction_current > 0 && current > 0) {
    const QColor inverse = QColor::fromRgb(progress.rgb() ^ 0xFFFFFF);
    painter.fillRect(QRect(bar.left() + done, bar.top(), current, bar.height()), inverse);
  }
  qDrawShadeRect(&painter, bar, colours, /*sunken=*/false, 1);
}

}  // namespace twinmere::ui
