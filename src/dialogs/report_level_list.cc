#include "dialogs/report_level_list.h"

#include <QMouseEvent>

namespace twinmere::ui {

ReportLevelList::ReportLevelList(QWidget* parent) : QListWidget(parent) {
  static constexpr const char* kItems[] = {"Include successful operations (+1)",
                                           "Include errors (+2)",
                                           "Include options (+4)",
                                           "Include command line (+8)",
                                           "Include summary (+16)",
                                           "Include zero values in summary (+32)",
                                           "Include OS version and privileges (+64)",
                                           "Include Source and Target folders (+128)"};
  int32_t bit = 1;
  for (const char* text : kItems) {
    auto* item = new QListWidgetItem(tr(text), this);
    item->setData(Qt::UserRole, bit);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    bit <<= 1;
  }
  setUniformItemSizes(true);
  // Sized to show every item (FullHeight): no scroll bar takes room.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  connect(this, &QListWidget::itemChanged, this, [this] {
    if (!setting_) emit LevelChanged(CheckedLevel());
  });
}

void ReportLevelList::SetLevel(int32_t level) {
  setting_ = true;
  for (int row = 0; row < count(); ++row) {
    QListWidgetItem* it = item(row);
    it->setCheckState((level & it->data(Qt::UserRole).toInt()) != 0 ? Qt::Checked : Qt::Unchecked);
  }
  setting_ = false;
}

int32_t ReportLevelList::CheckedLevel() const {
  int32_t level = 0;
  for (int row = 0; row < count(); ++row) {
    if (item(row)->checkState() == Qt::Checked) level += item(row)->data(Qt::UserRole).toInt();
  }
  return level;
}

void ReportLevelList::SetFollowMouse(bool follow) {
  follow_mouse_ = follow;
  viewport()->setMouseTracking(follow);
}

int ReportLevelList::FullHeight() const {
  return sizeHintForRow(0) * count() + 2 * frameWidth() + 2;
}

void ReportLevelList::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton ? itemAt(event->position().toPoint()) : nullptr;
  QListWidget::mousePressEvent(event);
}

// A click anywhere on an item checks or unchecks it, not only on its box.
void ReportLevelList::mouseReleaseEvent(QMouseEvent* event) {
  QListWidgetItem* released = itemAt(event->position().toPoint());
  const bool was_checked = released != nullptr && released->checkState() == Qt::Checked;
  QListWidget::mouseReleaseEvent(event);  // a click on the box toggles it here
  if (event->button() == Qt::LeftButton && released != nullptr && released == pressed_ &&
      (released->checkState() == Qt::Checked) == was_checked) {
    released->setCheckState(was_checked ? Qt::Unchecked : Qt::Checked);
  }
  pressed_ = nullptr;
}

void ReportLevelList::mouseMoveEvent(QMouseEvent* event) {
  if (follow_mouse_ && event->buttons() == Qt::NoButton) {
    if (QListWidgetItem* under = itemAt(event->position().toPoint())) setCurrentItem(under);
  }
  QListWidget::mouseMoveEvent(event);
}

}  // namespace twinmere::ui
