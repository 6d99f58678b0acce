#pragma once

#include <QString>

// The texts the viewer shows the user (alerts, notices, button titles), in one
// place and marked for translation under the context "UserTexts". Each is
// looked up when asked for, so a translator installed at start-up applies;
// with none installed the text comes back exactly as written here. The form's
// own titles (MainWindow.ui) are translated by uic's retranslateUi.
namespace usertexts
{
QString tipsTitle();                    // "Tips": the title of every tips alert
QString ok();                           // "OK": its one button
QString connectToBoxNetwork();          // the wrong-network prompt; %1 is the network's name
QString automatic();                    // "Auto": white balance or exposure button
QString manual();                       // "Manual": the same
QString savedSuccessfully();            // "Saved successfully": a photo, a recording
QString photoNotSaved();                // a photo file that could not be written
QString resolutionChangedVideoSaved();  // a recording ended by a new frame size
QString saveFolderPrompt();             // the prompt to choose a save folder
QString chooseSaveLocation();           // the folder chooser's message
QString recording();                    // the notice while a recording runs
QString disconnected();                 // a capture asked for without a stream
QString noPictureYet();                 // a recording asked for before the first frame
QString recordingCouldNotStart();       // the writer refused to start
QString recordingNotCompleted();        // %1: the file
QString recordingCutShort();            // %1: why, %2: the file
QString folderRemovedKept();            // %1: the file
QString folderRemovedLost();            // %1: the file
QString diskFullKept();                 // %1: the file
QString diskFullLost();                 // %1: the file
QString recordingWriteFailed();         // the notice of a failed write
QString notEnoughSpace();               // a capture refused by the disk guard
QString diskAlmostFull();               // a recording ended by the disk guard
QString pictureAge();                   // %1: seconds since the last frame
QString focusSweepStoppedByRecording(); // a sweep ended by a recording
QString noFocusSweepWhileRecording();   // a sweep refused while recording
QString noFocusSweepWithoutPicture();   // a sweep refused with no frame
QString clippedShare();                 // %1: the clipped share in percent
QString loupeOff();                     // the loupe button, loupe off
QString loupeOneToOne();                // the loupe button at 1:1
QString loupeZoom();                    // the loupe button; %1: 2 or 4
QString stopSweep();                    // the find-focus button while a sweep runs
QString findFocus();                    // the find-focus button
QString sweepRewinding();               // the sweep's state
QString sweepMeasuring();               // the sweep's state; %1 of %2 steps
QString sweepReturning();               // the sweep's state
QString sweepFound();                   // the sweep's result
QString sweepCancelled();               // the sweep's state
QString sweepFailed();                  // the sweep's state
} // namespace usertexts
