// The check-box list of the report level's bits, shared by the options
// dialog (as its drop-down list) and the preferences dialog.
#pragma once

#include <QListWidget>
#include <cstdint>

namespace twinmere::ui {

class ReportLevelList final : public QListWidget {
  Q_OBJECT
 public:
  // The eight items, "Include successful operations (+1)" to "Include Source
  // and Target folders (+128)", each carrying its bit as item data.
  explicit ReportLevelList(QWidget* parent);

  // Checks exactly the items whose bit `level` has; no signal.
  void SetLevel(int32_t level);
  // The sum of the bits of the checked items.
  int32_t CheckedLevel() const;
  // While set, the current item follows the mouse (a drop-down list).
  void SetFollowMouse(bool follow);
  // The height that shows every item.
  int FullHeight() const;

 signals:
  // The user checked or unchecked an item; `level` is CheckedLevel().
  void LevelChanged(int32_t level);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QListWidgetItem* pressed_ = nullptr;
  bool follow_mouse_ = false;
  bool setting_ = false;
};

}  // namespace twinmere::ui
