// The version resource of each shipped binary, read back the way Windows'
// file properties read it (GetFileVersionInfoW and VerQueryValueW): the
// version is project()'s, and the names agree with the texts the plug-in
// itself hands to a host.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/plugin_loader.h"

namespace {

std::wstring FolderOfThisProgram() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring self(path, n);
  return self.substr(0, self.find_last_of(L"\\/") + 1);
}

std::wstring Wide(const char* text) {
  std::wstring w;
  if (text == nullptr) return w;
  while (*text != '\0') w += static_cast<wchar_t>(static_cast<unsigned char>(*text++));
  return w;
}

std::string Narrow(const std::wstring& text) {
  std::string s;
  for (wchar_t c : text) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

struct Identity {
  std::wstring name;
  std::wstring author;
  std::wstring description;
};

// The identity texts as _nbInitPlugIn delivers them.
Identity PluginIdentity() {
  LoadedPlugin plugin = LoadPlugin();
  EXPECT_NE(plugin.initPlugIn, nullptr) << "cannot load the plug-in: error " << GetLastError();
  if (plugin.initPlugIn == nullptr) return {};
  char* cells[3] = {};
  CallChecked(plugin.initPlugIn, {0, AsArg(&cells[0]), AsArg(&cells[1]), AsArg(&cells[2])});
  return {Wide(cells[0]), Wide(cells[1]), Wide(cells[2])};
}

class VersionInfo {
 public:
  explicit VersionInfo(const std::wstring& path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return;
    data_.resize(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data_.data())) data_.clear();
  }
  bool present() const { return !data_.empty(); }

  const VS_FIXEDFILEINFO* fixed() {
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data_.data(), L"\\", &p, &len) || len < sizeof(VS_FIXEDFILEINFO)) return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(p);
  }
  // The first translation: language and code page.
  bool translation(WORD& language, WORD& codePage) {
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &p, &len) || len < 4) return false;
    language = static_cast<const WORD*>(p)[0];
    codePage = static_cast<const WORD*>(p)[1];
    return true;
  }
  // A string of the US English, Unicode table; absent strings read as "(absent)".
  std::wstring text(const wchar_t* name) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void* p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data_.data(), key.c_str(), &p, &len) || p == nullptr) return L"(absent)";
    return static_cast<const wchar_t*>(p);
  }

 private:
  std::vector<unsigned char> data_;
};

struct ShippedFile {
  const wchar_t* file;
  DWORD fileType;
  bool describedByPlugin;  // FileDescription is the plug-in's own description
  const wchar_t* description;
};

const ShippedFile ShippedFiles[] = {
    {L"KalvixQuad_ORVANE_PRECISION.dll", VFT_DLL, true, nullptr},
    {L"kqhost.exe", VFT_APP, false, L"Kalvix Quad ORVANE script host"},
};

TEST(VersionResource, EachShippedBinaryCarriesTheProjectVersionAndTheIdentity) {
  const Identity identity = PluginIdentity();
  ASSERT_EQ(identity.name, L"Kalvix Quad ORVANE");
  const std::wstring version = Wide(KQ_VERSION);
  const DWORD versionMS = (KQ_VERSION_MAJOR << 16) | KQ_VERSION_MINOR;
  const DWORD versionLS = KQ_VERSION_PATCH << 16;

  for (const ShippedFile& f : ShippedFiles) {
    SCOPED_TRACE(Narrow(f.file));
    VersionInfo info(FolderOfThisProgram() + f.file);
    ASSERT_TRUE(info.present()) << "no version resource: error " << GetLastError();

    const VS_FIXEDFILEINFO* fixed = info.fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, versionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, versionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, versionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, versionLS);
    EXPECT_EQ(fixed->dwFileType, f.fileType);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "a release carries no debug or pre-release flag";

    WORD language = 0, codePage = 0;
    ASSERT_TRUE(info.translation(language, codePage));
    EXPECT_EQ(language, 0x0409);
    EXPECT_EQ(codePage, 1200);

    const std::wstring description = f.describedByPlugin ? identity.description : f.description;
    const struct {
      const wchar_t* name;
      std::wstring expected;
    } strings[] = {
        {L"FileVersion", version},         {L"ProductVersion", version},      {L"ProductName", identity.name},
        {L"CompanyName", identity.author}, {L"FileDescription", description}, {L"OriginalFilename", f.file},
        {L"InternalName", f.file},
    };
    for (const auto& s : strings) {
      std::wstring read = info.text(s.name);
      EXPECT_EQ(read, s.expected) << Narrow(s.name);
      std::printf("%s: %s = %s\n", Narrow(f.file).c_str(), Narrow(s.name).c_str(), Narrow(read).c_str());
    }
    std::printf("%s: fixed file version %lu.%lu.%lu.%lu\n", Narrow(f.file).c_str(),
                static_cast<unsigned long>(fixed->dwFileVersionMS >> 16),
                static_cast<unsigned long>(fixed->dwFileVersionMS & 0xFFFF),
                static_cast<unsigned long>(fixed->dwFileVersionLS >> 16),
                static_cast<unsigned long>(fixed->dwFileVersionLS & 0xFFFF));
  }
}

}  // namespace
