// Processes for the Wine harness: starting programs of the build, the actor program in its
// roles, and the paths tests need (fresh scratch folders, Unix paths as Wine sees them).
#include "tests/wine/harness/harness.h"

#include <atomic>

namespace harness {

namespace {

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

// ---- Process ----

Process::Process(Process&& other) noexcept : handle_(other.handle_), id_(other.id_) {
  other.handle_ = nullptr;
  other.id_ = 0;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Terminate();
    handle_ = other.handle_;
    id_ = other.id_;
    other.handle_ = nullptr;
    other.id_ = 0;
  }
  return *this;
}

Process::~Process() { Terminate(); }

Process Process::Start(const std::string& commandLine, const char* workDir) {
  Process process;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, workDir, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process.handle_ = info.hProcess;
    process.id_ = info.dwProcessId;
  }
  return process;
}

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }

bool Process::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!handle_ || WaitForSingleObject(handle_, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(handle_, exitCode);
  return true;
}

void Process::Terminate() {
  if (!handle_) return;
  if (Running()) {
    TerminateProcess(handle_, 255);
    WaitForSingleObject(handle_, kTimeout);
  }
  CloseHandle(handle_);
  handle_ = nullptr;
}

// ---- Paths ----

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string ProgramBeside(const char* fileName) { return ProgramFolder() + fileName; }

std::string Quote(const std::string& argument) { return "\"" + argument + "\""; }

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

std::string FreshFolder(const std::string& name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "kx-" + name;
  RemoveTree(folder);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// ---- Actor ----

Actor Actor::Start(const std::string& arguments, const std::string& name) {
  static std::atomic<int> counter{0};
  const std::string base = "kxactor-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++counter) + "-" + name;
  Actor actor;
  actor.events_.ready.Reset(CreateEventA(nullptr, TRUE, FALSE, (base + "-ready").c_str()));
  actor.events_.release.Reset(CreateEventA(nullptr, TRUE, FALSE, (base + "-release").c_str()));
  actor.process_ =
      Process::Start(Quote(ProgramBeside("kxactor.exe")) + " " + base + " " + arguments);
  return actor;
}

Actor Actor::HoldFile(const std::string& path, DWORD holdMs) {
  return Start("hold " + std::to_string(holdMs) + " " + Quote(path), "hold");
}

Actor Actor::FileManager(const std::string& library, DWORD releaseDelayMs) {
  Actor actor = Start("filemanager " + std::to_string(releaseDelayMs) + " " + Quote(library), "fm");
  actor.className_ = kFileManagerClass;
  return actor;
}

Actor Actor::MainWindow(const char* className) {
  Actor actor = Start(std::string("window 0 ") + className, "window");
  actor.className_ = className;
  return actor;
}

Actor Actor::ShowBox(const std::string& text, UINT flags) {
  return Start("box " + std::to_string(flags) + " " + Quote(text), "box");
}

bool Actor::WaitReady(DWORD timeoutMs) {
  if (!process_.started()) return false;
  return WaitFor(
             [&] {
               return WaitForSingleObject(events_.ready.get(), 0) == WAIT_OBJECT_0 ||
                      !process_.Running();
             },
             timeoutMs) &&
         WaitForSingleObject(events_.ready.get(), 0) == WAIT_OBJECT_0;
}

void Actor::Release() {
  if (events_.release) SetEvent(events_.release.get());
}

bool Actor::WaitExit(DWORD timeoutMs) { return process_.WaitExit(timeoutMs); }

HWND Actor::window() const {
  if (className_.empty() || !process_.started()) return nullptr;
  return FindTopWindow(className_.c_str(), nullptr, process_.id());
}

Actor::~Actor() {
  Release();
  if (process_.started()) process_.WaitExit(kTimeout);
}

}  // namespace harness
