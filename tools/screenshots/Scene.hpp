#pragma once

#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "Tokvane/Theme/Appearance.hpp"

class QWidget;

namespace tokvane::screenshots {

// One picture of the interface: a name (the file is "<name>-light.png" and
// "<name>-dark.png") and a function that renders it in an appearance. Scenes
// render offscreen, at a device pixel ratio of 2 unless they choose another.
struct Scene {
  std::string name;
  std::function<QImage(Appearance)> render;
};

std::vector<Scene>& allScenes();

// Registers a scene from a static object in a *Scenes.cpp file.
struct SceneRegistration {
  SceneRegistration(std::string name, std::function<QImage(Appearance)> render);
};

// Renders a widget as it would show in a window of that appearance: the
// palette set, laid out at its size, grabbed at `devicePixelRatio`.

QImage grabWidget(QWidget& widget, Appearance appearance, qreal devicePixelRatio = 2.0);

}  // namespace tokvane::screenshots
