#pragma once

#include <QString>

#include <string>

#include "model/AppModel.h"

// Demo mode for brimvale-screenshots: with --demo every picture shows the fictional computer of
// DemoMachine instead of the generated sample. Each picture's function makes its model from
// screenshotServices() and lets showDemoIn() fill it; only when that says no does it install its
// sample. GUI thread only.
namespace brimvale::screenshots {

void setDemo(bool demo);
[[nodiscard]] bool demo();

// The services for a picture's model: the fictional computer's in demo mode, else the current
// (temporary) user's.
[[nodiscard]] AppModel::Services services();

// In demo mode: loads the fictional computer into model, focuses its home folder and waits until
// the suggestions are ready; true when it did. False outside demo mode (or when the model did not
// get ready in time, with the reason on stderr).
[[nodiscard]] bool showDemoIn(AppModel& model);

// Small copies of the pictures the README shows (main-light, main-dark, review) from outDir: 800
// pixels wide, 256 colours, into docsDir under the same names. False when one could not be written.
[[nodiscard]] bool saveDocumentationCopies(const QString& outDir, const QString& docsDir);

// A path below the home folder of the pictures' tree: the fictional user's in demo mode, else the
// sample's (/home/sample).
[[nodiscard]] std::string inHome(const std::string& relative);

}  // namespace brimvale::screenshots
