#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gen/Pathw32.h"
#include "gen/err/FaultFlow.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/WinTest.h"

namespace {

// The toolkit's temporary folder; the library's TempFolder() hides its name.
using Scratch = class TempFolder;

const std::string kPathw32 = "..\\gen\\Pathw32.cpp:";

// For its lifetime the variable has the given value, or none.
struct VariableScope {
  VariableScope(const char* name, const std::optional<std::string>& value) : name(name) {
    char room[32768];
    DWORD length = GetEnvironmentVariableA(name, room, sizeof room);
    if (length) saved = std::string(room, length);
    SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
  }
  ~VariableScope() { SetEnvironmentVariableA(name, saved ? saved->c_str() : nullptr); }
  const char* name;
  std::optional<std::string> saved;
};

// A file of `size` bytes last written at `writeTime` (seconds since 1970).
void PlaceFile(const std::string& path, DWORD size = 0, int64_t writeTime = 0) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  WriteFile(file.Get(), std::string(size, 'x').data(), size, &size, nullptr);
  ULARGE_INTEGER ticks;
  ticks.QuadPart = writeTime * 10000000 + 116444736000000000;  // from 1601
  FILETIME time = {ticks.LowPart, ticks.HighPart};
  if (writeTime) SetFileTime(file.Get(), nullptr, nullptr, &time);
}

// What a running search holds: the folder's handle and a record on the
// process heap. Wine counts no handles, and lets go of the folder's handle
// by itself at the end of a search; the record shows a search kept there.
std::pair<DWORD, size_t> Held() {
  std::pair<DWORD, size_t> held(0, 0);
  GetProcessHandleCount(GetCurrentProcess(), &held.first);
  PROCESS_HEAP_ENTRY entry = {};
  HeapLock(GetProcessHeap());
  while (HeapWalk(GetProcessHeap(), &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++held.second;
  HeapUnlock(GetProcessHeap());
  return held;
}

}  // namespace

TEST(WellKnownFolders, AreWhatWindowsGivesWithOneSeparator) {
  char windows[MAX_PATH], system[MAX_PATH], current[MAX_PATH], temp[MAX_PATH], module[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  GetSystemDirectoryA(system, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, current);
  GetTempPathA(MAX_PATH, temp);  // already ends in one
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  EXPECT_EQ((std::vector<std::string>{std::string(windows) + "\\", std::string(system) + "\\",
                                      std::string(current) + "\\", temp, module,
                                      "Pathw32_test.exe"}),
            (std::vector<std::string>{WindowsFolder().Text(), SystemFolder().Text(),
                                      CurrentFolder().Text(), TempFolder().Text(),
                                      ModuleFileName().Text(), ModuleBaseName().Text()}));
  HMODULE saved = std::exchange(moduleHandle, nullptr);
  std::string site = FiredCheck([] { ModuleFileName(); });
  moduleHandle = saved;
  EXPECT_EQ(kPathw32 + "35", site);
}

// Without a usable variable: the temporary folder, never an empty text, a
// root-relative "\NARV\" or a folder cut short.
TEST(DataFolders, AreTheVariablesProductFolderOrElseTheTemporaryFolder) {
  const std::string longest = "C:\\" + std::string(4087, 'v');  // with "\NARV": 4095
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {"C:\\Users\\Ann\\AppData", "C:\\Users\\Ann\\AppData\\NARV\\"}, {"D:\\", "D:\\NARV\\"},
      {longest, longest + "\\NARV\\"}, {longest + "v", TempFolder().Text()},
      {std::nullopt, TempFolder().Text()}};
  const std::pair<const char*, Str (*)()> folders[] = {{"AppData", UserDataFolder},
                                                       {"AllUsersProfile", CommonDataFolder}};
  for (const auto& f : folders) {
    for (const auto& c : cases) {
      VariableScope scope(f.first, c.first);
      EXPECT_EQ(c.second, f.second().Text()) << f.first << "=" << c.first.value_or("(unset)");
    }
  }
}

TEST(FindDataFile, TakesTheFirstPlaceInTheFixedOrderElseTheUserDataPlace) {
  Scratch current, user, common;
  VariableScope appData("AppData", user.Path()), allUsers("AllUsersProfile", common.Path());
  ASSERT_TRUE(CreateFolders(user.Path() + "\\NARV") && CreateFolders(common.Path() + "\\NARV"));
  Str saved = CurrentFolder();
  ASSERT_NE(0, SetCurrentFolder(current.Path().c_str()));

  const std::string name = "pathw32_" + std::to_string(GetCurrentProcessId()) + ".dat";
  const std::string places[] = {current.Path() + "\\" + name, BinFolder() + name,
                                user.Path() + "\\NARV\\" + name, common.Path() + "\\NARV\\" + name};
  for (int first = 0; first <= 4; ++first) {  // files from the first place on
    for (int place = 0; place < 4; ++place)
      place >= first ? PlaceFile(places[place]) : void(DeleteFileA(places[place].c_str()));
    EXPECT_EQ(places[first < 4 ? first : 2], FindDataFile(name.c_str()).Text());  // else user's
  }
  // A folder of that name is no data file.
  CreateDirectoryA(places[0].c_str(), nullptr);
  PlaceFile(places[3]);
  EXPECT_EQ(places[3], FindDataFile(name.c_str()).Text());

  EXPECT_EQ(std::string(WindowsFolder()) + "win.ini", FindDataFile("win.ini").Text());
  // Beside the executable a name without extension takes the executable's.
  EXPECT_STREQ(ModuleFileName(), FindDataFile("Pathw32_test"));
  std::string elsewhere = current.Path() + "\\sub\\x.dat";
  EXPECT_EQ(elsewhere, FindDataFile(elsewhere.c_str()).Text());
  SetCurrentFolder(saved);
}

// Folders, "." and ".." included, are never current.
TEST(FileFind, ListsTheFilesWithSizeAndWriteTimeOrIsExhaustedAtOnce) {
  Scratch folder;
  const std::string base = folder.Path() + "\\";
  PlaceFile(base + "a.txt", 3, 1000000000);
  PlaceFile(base + "b.dat", 0, 4102444800);  // 2100: past 32-bit seconds
  ASSERT_TRUE(CreateFolders(base + "sub\\deeper"));
  std::vector<std::string> found;
  for (FileFind file((base + "*").c_str()); file.More(); file.Next())
    found.push_back(std::string(file.Name()) + " " + std::to_string(file.Size()) + " " +
                    std::to_string(file.WriteTime()));
  std::sort(found.begin(), found.end());
  EXPECT_EQ((std::vector<std::string>{"a.txt 3 1000000000", "b.dat 0 4102444800"}), found);

  for (const std::string& pattern : {base + "sub\\*", base + "*.none", base + "missing\\*"}) {
    FileFind find(pattern.c_str());
    std::string seen = std::to_string(find.More()) + " '" + find.CurrentName().Text() + "' ";
    seen += FiredCheck([&] { find.Name(); }) + " " + FiredCheck([&] { find.Next(); });
    EXPECT_EQ("0 '' " + kPathw32 + "68 " + kPathw32 + "72", seen) << pattern;
  }
  // No wildcards in folders.
  EXPECT_EQ(kPathw32 + "63", FiredCheck([&] { FileFind find((base + "s*\\*").c_str()); }));
}

TEST(FileFind, GivesItsSearchBackWhenExhaustedAndWhenDestroyed) {
  Scratch folder;
  const std::string pattern = folder.Path() + "\\*";
  for (const char* name : {"\\a", "\\b", "\\c"}) PlaceFile(folder.Path() + name);
  const auto before = Held();
  {
    FileFind exhausted(pattern.c_str());
    EXPECT_NE(before, Held());  // the measure sees a running search
    while (exhausted.More()) exhausted.Next();
    EXPECT_EQ(before, Held());
  }
  { FileFind abandoned(pattern.c_str()); }
  EXPECT_EQ(before, Held());
}
