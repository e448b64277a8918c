// Tintwave: the audio editor's desktop program.
#include <QApplication>
#include <QTextStream>

#include "analysis/ScratchFile.h"
#include "app/Application.h"

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  {
    // --help and --version answer without a display.
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (const std::optional<int> code = VIZoravuApp::HandleInformationalOptions(arguments, out, err)) return *code;
  }

  // Long recordings page to a scratch file rather than to swap; without one they stay in memory.
  scratch::UseDirectory(scratch::DefaultDirectory(), nullptr);
  QApplication application(argc, argv);
  QApplication::setOrganizationName(VIZoravuApp::kOrganisation);
  QApplication::setApplicationName("Tintwave");
  QApplication::setDesktopFileName("tintwave");

  VIZoravuApp app(application);
  QStringList rest = QApplication::arguments();
  if (!rest.isEmpty()) rest.removeFirst();
  if (const std::optional<int> code = app.Start(rest)) return *code;
  return application.exec();
}
