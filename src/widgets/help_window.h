// The help pages shipped with the program and the program's own help window
// that shows them, opened by topic number (app/help_topics.h); and the
// message boxes whose Help button opens a topic.
//
// The pages lie in help/ of the source tree; the build links them to
// share/twinmere/help beside bin/, and installing puts them in the prefix's
// share/twinmere/help, so that the program finds them the same way in both
// places (app/program_data.h).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "app/help_topics.h"
#include "app/shortcuts.h"
#include "platform/file_system.h"

class QTextBrowser;

namespace twinmere::ui {

// Every topic the program opens: the forms' topics, the message boxes'
// topics and the contents.
inline constexpr int kHelpTopics[] = {
    kHelpContents,          kHelpMainWindow,    kHelpOptionsDialog,  kHelpReadShortcut,
    kHelpUnsupportedSystem, kHelpReportMissing, kHelpShortcutDialog, kHelpShortcutLimits,
    kHelpPreferences,       kHelpAbout};

// The file name of a topic's page: "index.html" for the contents, else the
// number and ".html" ("2000.html").
QString HelpPageName(int topic);

// The folder that holds the help pages: the first program data folder that
// has them (beside the executable's folder, then the install prefix), or an
// empty text when none does.
std::string FindHelpFolder(FileSystem& fs);

class HelpBrowser;

// The help window: one non-modal top-level window, shared by every form of
// the process. It has no owner, so a window-modal dialog never blocks it.
class HelpWindow final {
 public:
  // `folder`: where the pages are (FindHelpFolder); empty when not found.
  explicit HelpWindow(std::string folder);
  ~HelpWindow();
  HelpWindow(const HelpWindow&) = delete;
  HelpWindow& operator=(const HelpWindow&) = delete;

  // Shows the page of `topic` at `section` (the id of one of its elements;
  // empty: its top), opening the window or bringing it to the front. A page
  // that is not installed shows a note saying where it was looked for. Never
  // fails.
  void ShowHelpTopic(int topic, const QString& section = {});
  // Closes the window when it is open (at program end).
  void CloseHelpWindow();
  // The open window, or null.
  HelpBrowser* Window() const { return window_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  QPointer<HelpBrowser> window_;
};

// The window itself: Back, Forward and Contents above the page. Links to
// other pages follow inside the window; links to the web open in the
// desktop's browser.
class HelpBrowser final : public QWidget {
  Q_OBJECT
 public:
  explicit HelpBrowser(QString folder);
  void ShowPage(const QString& page_name, const QString& section = {});
  QTextBrowser* Browser() const { return browser_; }

 private:
  void ShowTitle();

  QString folder_;
  QTextBrowser* browser_;
};

// A message box as every message of the program shows it: the program title
// as caption, the message's icon (exclamation: OK; information: OK and
// Cancel) and a Help button that opens the message's topic without closing
// the box. Window-modal to `owner`, so that the help window stays usable.
// Returns true when OK was chosen.
bool ShowDialogMessage(QWidget* owner, const DialogMessage& message, HelpWindow& help);

}  // namespace twinmere::ui
