#pragma once

#include "Tokvane/App/AppDelegate.hpp"

namespace tokvane {

// The tray program: one instance per user (a later launch hands its
// addresses to the running one and ends), the delegate's launch sequence on
// Qt's event loop, and the addresses on its command line ("tokvane
// tokvane://open"). Returns the exit status.
int runTokvane(int argc, char** argv, AppDelegate::Options options);

}  // namespace tokvane
