// A Tintwave session to be killed: opens the file given, selects, edits through the menu
// commands, waits for its journal to reach the disk, writes what the document holds (the
// samples of its first track as floats) to the second argument, says "ready" and waits.
#include <QApplication>
#include <QFile>
#include <cstdio>

#include "app/Application.h"
#include "app/DocumentView.h"
#include "app/MainFrame.h"
#include "editor/Document.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 3) return 2;
  VIZoravuApp app(application);
  if (app.Start({QString::fromLocal8Bit(argv[1])})) return 2;
  VIZoravuDoc* doc = app.MainFrame()->ActiveDocument();
  if (!doc) return 3;
  doc->Editor()->Select(0.25, 1.5);
  for (int id : {CommandId::Reverse, CommandId::FadeIn, CommandId::Normalize}) app.MainFrame()->Trigger(id);
  doc->Editor()->Select(0.1, 0.2);
  app.MainFrame()->Trigger(CommandId::Reverse);
  if (!doc->Document()->Journal() || !doc->Document()->Journal()->Flush()) return 4;
  CAP_SampleTrack* track = doc->Editor()->Mixer()->Track(0);
  std::vector<float> samples(std::size_t(track->Length()));
  track->ReadSamples(samples.data(), track->Length(), 0);
  QFile out(QString::fromLocal8Bit(argv[2]));
  if (!out.open(QIODevice::WriteOnly)) return 5;
  out.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size() * sizeof(float)));
  out.close();
  std::printf("ready\n");
  std::fflush(stdout);
  return application.exec();
}
