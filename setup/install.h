// The installation sequence of SETUP.EXE, from the start-up checks to the launch of the
// installed main program, and the steps it is made of. Every run ends with exit code 0.
#pragma once

#include <windows.h>

#include <cstddef>

// The letter that follows "/install" in the launch command: it tells the main program that
// the 32-bit setup started it.
inline constexpr char kLaunchSuffix[] = "S";
inline constexpr char kLaunchFailureFormat[] = "Error running %s%s";
// Held by the running setup for its whole run.
inline constexpr char kSetupMutexName[] = "KarvexSetupRunning";

// The whole run. Returns 0, the program's exit code, however the run ends.
int RunInstallation(HINSTANCE instance);

// ---- Steps, in the order the run takes them ----

// Records the module and loads the title and action texts.
void LoadSetupTexts(HINSTANCE instance);
// Takes the setup's mutex; when another setup holds it, shows that Setup is already running
// and answers true.
bool AnotherSetupRunning();
// Shows message 1022 and answers true when a window of the main program exists.
bool MainProgramRunning();
// Sets sourceDir (with its trailing backslash) and setupTime from the running program's file.
// Answers false, after message 1013 naming SETUP.EXE, when its path does not fit in sourceDir.
bool LocateSource();
// defaultDir: an existing installation's folder (from the "zip" association), else
// "Karvex" under the program-files folder, else C:\Karvex.
void ProposeDefaultDir();
// Runs the destination dialog; true to go on. A cancelled run (or a dialog that could not be
// shown) ends with message 1006; a quiet end shows nothing.
bool ChooseDestination();
// Creates and shows the progress window with its meter set to the run's range; false (after
// message 1006) when the window cannot be created.
bool OpenProgressWindow();
// Companion copy, then the payload: true when both succeeded.
bool CopyAndExtract();
void CloseProgressWindow();
// Starts the installed main program ("/install" and the suffix letter), first by its full
// path, quoted, then by its bare name in the destination; shows the failure box when neither
// starts. Returns 1 when it was started.
int LaunchMainProgram();

// ---- Operations used by the steps ----

// Copies the "ProgramFilesDir" value into output (capacity bytes) and answers 1; answers 0,
// with output unchanged, when it cannot be read, is empty or does not fit.
int ReadProgramFilesDir(char* output, size_t capacity);
// Extracts setup.kx into the destination, CRC-32 checked; 1 when every entry was written.
int ExtractPayload();
// Deletes folder+name and renames the staged file (name with "_" as its last character) to
// it; 1 on success, else 0 after message 1018 naming the final path.
int FinalizeMainProgram(const char* folder, const char* name);
