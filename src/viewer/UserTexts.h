#pragma once

#include <QString>

// The texts the viewer shows the user (alerts, notices, button titles), in one
// place and marked for translation under the context "UserTexts". Each is
// looked up when asked for, so a translator installed at start-up applies;
// with none installed the text comes back exactly as written here. The
// capture texts of ViewController_Capture.cpp and the form's own titles
// (MainWindow.ui, translated by uic's retranslateUi) are not repeated here.
namespace usertexts
{
QString tipsTitle();                   // "Tips": the title of every tips alert
QString ok();                          // "OK": its one button
QString connectToBoxNetwork();         // the wrong-network prompt; %1 is the network's name
QString automatic();                   // "Auto": white balance or exposure button
QString manual();                      // "Manual": the same
QString savedSuccessfully();           // "Saved successfully": a photo, a recording
QString photoNotSaved();               // a photo file that could not be written
QString resolutionChangedVideoSaved(); // a recording ended by a new frame size
QString saveFolderPrompt();            // the prompt to choose a save folder
QString chooseSaveLocation();          // the folder chooser's message
} // namespace usertexts
