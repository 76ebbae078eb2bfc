// tokvane-screenshots OUT_DIR [NAME_PREFIX...]: writes every registered scene
// (or those whose names start with one of the prefixes) as
// OUT_DIR/<name>-light.png and OUT_DIR/<name>-dark.png.

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/screenshots/Scene.hpp"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TZ", "UTC", 0);
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tokvane-screenshots OUT_DIR [NAME_PREFIX...]\n");
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "tokvane-screenshots: cannot make %s\n", argv[1]);
    return 1;
  }
  int written = 0;
  for (const auto& scene : tokvane::screenshots::allScenes()) {
    bool wanted = argc == 2;
    for (int i = 2; i < argc && !wanted; ++i) wanted = scene.name.rfind(argv[i], 0) == 0;
    if (!wanted) continue;
    for (auto appearance : {tokvane::Appearance::light, tokvane::Appearance::dark}) {
      QImage image = scene.render(appearance);
      std::string file = scene.name + (appearance == tokvane::Appearance::dark ? "-dark.png" : "-light.png");
      if (image.isNull() || !image.save(out.filePath(QString::fromStdString(file)))) {
        std::fprintf(stderr, "tokvane-screenshots: %s could not be rendered or written\n", file.c_str());
        return 1;
      }
      std::printf("%s\n", file.c_str());
      ++written;
    }
  }
  return written > 0 ? 0 : 1;
}
