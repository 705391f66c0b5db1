// The about box (Help > About...): the program's title, its version as the
// report writes it, the operating system and whether administrative
// privileges are granted, as the report's summary says them, and OK. Its
// help topic is 8000.
#pragma once

#include <QDialog>

#include "platform/platform_facts.h"
#include "widgets/form.h"

class QLabel;
class QPushButton;

namespace twinmere::ui {

class AboutDialog final : public QDialog, public Form {
  Q_OBJECT
 public:
  AboutDialog(const PlatformFacts& facts, FormServices& services, QWidget* owner);

  void UpdateUI() override;

 private:
  QLabel* imgIcon = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblOs = nullptr;
  QLabel* lblAdmin = nullptr;
  QPushButton* cmdOK = nullptr;
};

}  // namespace twinmere::ui
