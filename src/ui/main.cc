// twinmere: the desktop program. One main window whose life is the life of
// the process: the settings and the command line are read, the window is
// shown (and with -s the run started), and the process ends with the exit
// code the window keeps.

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/program_data.h"
#include "base/version.h"
#include "fs/paths.h"
#include "platform/file_system.h"
#include "platform/instance_marker.h"
#include "platform/platform_facts.h"
#include "platform/user_folders.h"
#include "report/clock.h"
#include "settings/program_settings.h"
#include "settings/registry.h"
#include "ui/main_window.h"
#include "ui/termination_signals.h"

namespace twinmere::ui {
namespace {

constexpr std::string_view kHelp =
    R"(Usage: twinmere [SWITCHES] [SOURCE [TARGET]]

Opens the window that keeps the folder TARGET in step with the folder SOURCE.
The switches are those of twinmere-cli (twinmere-cli --help lists them all);
here -s starts the run once the window is shown, -q closes the program after
a run that was not stopped, and -m starts with the window minimized. Qt's own
options (for example -style fusion) may come first.

  --help      show this help and exit
  --version   show the version and exit

The exit code is the last run's: 0 completed, 1 stopped, 4 completed with
errors, 5 stopped with errors, 17 invalid command line, 18 to 22 the run could
not begin.
)";

void Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int Main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    Print(kHelp);
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    Print(std::string(kProgramTitle) + " " + kVersion + " (twinmere)\n" + kCopyright + "\n");
    return 0;
  }
  // Numbers and times follow the user's locale.
  std::setlocale(LC_ALL, "");
  // The command line is the program's own, to the byte: Qt would take its
  // options (-style, -platform ... and their values) out of it wherever they
  // stand, folders named so included. Qt is configured through its
  // environment variables instead (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE ...).
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication application(qt_argc, qt_argv);
  QApplication::setApplicationName("twinmere");
  // The desktop matches the window with the menu entry and its icon.
  QGuiApplication::setDesktopFileName(kAppId);

  const PlatformFacts facts = DetectPlatformFacts();
  const UserFolders folders = UserFoldersFromEnvironment();
  const InstanceMarker marker(folders);
  Registry registry(DefaultRegistryPaths(folders));
  const ProgramSettings settings = ReadProgramSettings(registry, folders);
  const std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  const SystemClock clock;
  // The theme's icon where the program is installed; else the ones shipped
  // beside the executable (the build folder, or a copied installation).
  QIcon shipped;
  for (const char* item : {kIcon48Data, kIcon256Data}) {
    const std::string path = FindProgramData(*fs, item, GetInstallFolder());
    if (!path.empty()) shipped.addFile(QFile::decodeName(path.c_str()));
  }
  QApplication::setWindowIcon(QIcon::fromTheme(kIconName, shipped));

  MainWindow window(
      ProgramContext{facts, folders, registry, settings, *fs, clock, JoinArguments(argc, argv)});
  // A system shutdown or Ctrl+C closes the window as any close request that
  // is not the window's own Close command: a run stops, the size is stored.
  TerminationSignals termination;
  QObject::connect(&termination, &TerminationSignals::Received, &window,
                   [&window] { window.CloseFor(CloseReason::Signal); });
  window.Load();
  window.ShowAtStart();
  QApplication::exec();
  return window.ExitCode();
}

}  // namespace
}  // namespace twinmere::ui

int main(int argc, char** argv) {
  return twinmere::ui::Main(argc, argv);
}
