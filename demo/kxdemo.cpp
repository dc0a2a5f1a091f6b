// kxdemo: the headless demonstration of Karvex Setup under Wine. It runs SETUP.EXE from an
// installation medium as a user would: accepts the proposed folder, lets the installation
// run, closes the box of the main program the setup starts. On the way it photographs the
// destination dialog, the progress window and that box, then lists what was installed. It
// exits 0 only when every file of the medium landed in the folder and the main program ran.
// Usage: kxdemo MEDIUM_FOLDER   (screenshots go to the folder named by KX_SCREEN_DIR)
#include <windows.h>

#include "demo/capture.h"
#include "res/companions.h"
#include "res/dialog.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kStepTimeout = 30000;
constexpr char kStandInTitle[] = "Karvex stand-in";  // the demo main program's box

// The percentage a Meter shows, from its window values (range, then position, 16 bits each):
// readable while the setup's thread is held still.
int MeterPercent(HWND meter) {
  const unsigned range = static_cast<uint16_t>(GetWindowLongA(meter, 0));
  const unsigned position = static_cast<uint16_t>(GetWindowLongA(meter, 4));
  return range == 0 ? 0 : static_cast<int>(position * 100 / range);
}

// Prints the files of the folder with their sizes and times (UTC).
void ListFiles(const std::string& folder) {
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    SYSTEMTIME t;
    FileTimeToSystemTime(&data.ftLastWriteTime, &t);
    std::printf("  %-14s %9lu  %04u-%02u-%02u %02u:%02u:%02u\n", data.cFileName,
                static_cast<unsigned long>(data.nFileSizeLow), t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  } while (FindNextFileA(search, &data));
  FindClose(search);
}

struct Demo {
  std::string medium;  // with a trailing backslash
  std::vector<std::string> screenshots;
  std::vector<std::string> problems;

  void Problem(const std::string& text) {
    problems.push_back(text);
    std::printf("  problem: %s\n", text.c_str());
  }
  void Shot(const std::string& name, HWND window) {
    const std::string path = capture::SaveScreenshot(name, window);
    if (path.empty()) {
      Problem("screenshot " + name + " could not be saved (is KX_SCREEN_DIR set?)");
      return;
    }
    for (const std::string& taken : screenshots)
      if (taken == path) return;  // taken again: the newer picture replaced it
    screenshots.push_back(path);
  }
};

// A Wine path on drive Z: as the Unix path it is.
std::string UnixPath(const std::string& path) {
  if (path.size() < 2 || (path[0] != 'Z' && path[0] != 'z') || path[1] != ':') return path;
  std::string unix = path.substr(2);
  for (char& c : unix)
    if (c == '\\') c = '/';
  return unix;
}

// Reads, photographs and answers a message box that SETUP showed instead of going on.
void ReportBox(Demo& demo, HWND box) {
  const harness::MessageBoxInfo info = harness::ReadMessageBox(box);
  demo.Shot("unexpected-message", box);
  demo.Problem("SETUP.EXE showed \"" + info.text + "\"");
  harness::AnswerMessageBox(box, info.buttons.empty() ? IDOK : info.buttons.front());
}

// Waits for SETUP's window with that control; a box from SETUP on the way is reported.
HWND WaitForWindow(Demo& demo, DWORD setup, int controlId) {
  HWND window = nullptr, box = nullptr;
  harness::WaitFor(
      [&] {
        window = harness::FindSetupWindow(setup, controlId);
        box = window ? nullptr : harness::FindSetupWindow(setup, 0);
        return window || box;
      },
      kStepTimeout);
  if (box) ReportBox(demo, box);
  return window;
}

int Run(Demo& demo) {
  std::printf("Karvex Setup demo: running %sSETUP.EXE under Wine\n", demo.medium.c_str());
  harness::Process setup("\"" + demo.medium + "SETUP.EXE\"", demo.medium.c_str());
  if (!setup.started()) {
    demo.Problem("SETUP.EXE could not be started");
    return 1;
  }

  // 1. The destination dialog: photographed once painted, the proposed folder accepted.
  const HWND dialog = WaitForWindow(demo, setup.id(), IDC_FOLDER);
  if (!dialog) {
    demo.Problem("the destination dialog did not appear");
    return 1;
  }
  harness::WaitUntilPainted(dialog);
  const std::string folder = harness::ControlText(dialog, IDC_FOLDER);
  std::printf("  destination dialog proposes %s; pressing OK\n", folder.c_str());
  demo.Shot("1-destination-dialog", dialog);
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  harness::ClickControl(dialog, IDOK);

  // 2. The progress window lives only while the files are written: it is photographed with
  // the setup's thread held still, once it has painted a file name past the first two.
  const HWND progress = capture::CatchWhileHeld(
      thread,
      [&]() -> HWND {
        const HWND window = harness::FindSetupWindow(setup.id(), IDC_METER);
        if (!window) return nullptr;
        const std::string name = harness::RawTextOf(GetDlgItem(window, IDC_FILENAME));
        if (name.empty() || name == CompanionFiles[0].name || name == CompanionFiles[1].name)
          return nullptr;
        return window;
      },
      [&](HWND window) {
        std::printf("  progress window caught while writing %s\n",
                    harness::RawTextOf(GetDlgItem(window, IDC_FILENAME)).c_str());
        demo.Shot("2-progress-window", window);
      },
      kStepTimeout);
  if (!progress) demo.Problem("the progress window was not seen");
  // A later look, with the bar partly filled, replaces that picture when the run allows it.
  capture::CatchWhileHeld(
      thread,
      [&]() -> HWND {
        const HWND window = harness::FindSetupWindow(setup.id(), IDC_METER);
        const int percent = window ? MeterPercent(GetDlgItem(window, IDC_METER)) : -1;
        return percent >= 25 && percent <= 90 ? window : nullptr;
      },
      [&](HWND window) {
        std::printf("  progress window caught again at %d%%\n",
                    MeterPercent(GetDlgItem(window, IDC_METER)));
        demo.Shot("2-progress-window", window);
      },
      kStepTimeout);

  // 3. SETUP ends after starting the main program; a box on the way means it did not.
  DWORD exitCode = 1;
  harness::WaitFor(
      [&] {
        if (const HWND box = harness::FindSetupWindow(setup.id(), 0)) ReportBox(demo, box);
        return !setup.Running();
      },
      kStepTimeout);
  if (!setup.WaitExit(0, &exitCode)) demo.Problem("SETUP.EXE did not end");
  std::printf("  SETUP.EXE ended with exit code %lu\n", exitCode);

  // 4. The started main program (the stand-in) shows its box: photographed and closed.
  HWND standIn = nullptr;
  harness::WaitFor([&] { return (standIn = FindWindowA("#32770", kStandInTitle)) != nullptr; },
                   kStepTimeout);
  std::string standInText;
  if (!standIn) {
    demo.Problem("the main program's box did not appear");
  } else {
    standInText = harness::ReadMessageBox(standIn).text;
    demo.Shot("3-main-program", standIn);
    harness::AnswerMessageBox(standIn, IDOK);
    std::printf("  the installed main program was started and its box closed\n");
  }

  // 5. What was installed, checked against the medium.
  std::printf("Installed into %s:\n", folder.c_str());
  ListFiles(folder);
  for (const std::string& missing : e2e::MissingFromInstallation(demo.medium, folder, false))
    demo.Problem(missing);
  const std::string expected = "\"" + folder + "\\" + kMainProgramName + "\" /install";
  if (!standInText.empty() && standInText.find("Command line: " + expected) == std::string::npos)
    demo.Problem("the main program was started otherwise: " + standInText);
  if (!standInText.empty() && standInText.find("Current folder: " + folder) == std::string::npos)
    demo.Problem("the main program did not start in " + folder);
  if (exitCode != 0) demo.Problem("SETUP.EXE's exit code was not 0");
  return demo.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kxdemo MEDIUM_FOLDER\n");
    return 2;
  }
  Demo demo;
  demo.medium = harness::WindowsPath(argv[1]);
  if (demo.medium.back() != '\\') demo.medium += '\\';
  const int result = Run(demo);
  std::printf("Screenshots:\n");
  for (const std::string& path : demo.screenshots) std::printf("  %s\n", UnixPath(path).c_str());
  if (result == 0)
    std::printf("The installation really happened: every file of the medium is in place.\n");
  else
    std::printf("The installation did not complete: %zu problem(s).\n", demo.problems.size());
  return result;
}
